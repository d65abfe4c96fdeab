function entries = vt_log_entries(kind)
% entries = vt_log_entries([kind]): the simulator's log (getenv('VORN_SIM_LOG')),
% one struct per line in a cell array, oldest first; with kind, only the
% lines of that kind.
  entries = {};
  file = getenv('VORN_SIM_LOG');
  if isempty(file) || ~exist(file, 'file')
    return;
  end
  for line = strsplit(fileread(file), "\n")
    try
      entry = jsondecode(line{1});   % fails on an empty line or one still being written
      if nargin < 1 || strcmp(entry.kind, kind)
        entries{end + 1} = entry; %#ok<AGROW>
      end
    end
  end
end
