function entries = vt_log_entries(kind)
% entries = vt_log_entries([kind]): the simulator's log (getenv('VORN_SIM_LOG')),
% one struct per line in a cell array, oldest first; with kind, only the
% lines of that kind.
  file = getenv('VORN_SIM_LOG');
  entries = {};
  if isempty(file) || ~exist(file, 'file')
    return;
  end
  text = fileread(file);
  lines = strsplit(text, "\n");
  for i = 1:numel(lines)
    line = strtrim(lines{i});
    if isempty(line)
      continue;
    end
    try
      entry = jsondecode(line);
    catch
      continue;   % a line still being written
    end
    if nargin < 1 || (isfield(entry, 'kind') && strcmp(entry.kind, kind))
      entries{end + 1} = entry; %#ok<AGROW>
    end
  end
end
