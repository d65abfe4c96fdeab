function entries = vt_log_since(mark, kind, n)
% entries = vt_log_since(mark [, kind [, n]]): the simulator's log lines
% about packets received after vt_log_mark() returned mark, oldest first;
% with kind, only the lines of that kind; with n, once n of them are there
% (waiting up to 10 s).
  if nargin >= 3
    vt_wait(@() numel(vt_log_since(mark, kind)) >= n, 10);
  end
  if nargin < 2
    entries = vt_log_entries();
  else
    entries = vt_log_entries(kind);
  end
  entries = entries(cellfun(@(e) isfield(e, 'seq') && e.seq > mark, entries));
end
