function entries = vt_log_since(mark, kind)
% entries = vt_log_since(mark [, kind]): the simulator's log lines about
% packets received after vt_log_mark() returned mark, oldest first; with
% kind, only the lines of that kind.
  entries = {};
  if nargin < 2
    lines = vt_log_entries();
  else
    lines = vt_log_entries(kind);
  end
  for entry = lines
    e = entry{1};
    if isfield(e, 'seq') && e.seq > mark
      entries{end + 1} = e; %#ok<AGROW>
    end
  end
end
