function vt_errors(table)
% vt_errors(table): vt_error(fhandle, message, name) for each row of a cell
% table {fhandle, message, name; ...}.
  for i = 1:rows(table)
    vt_error(table{i, :});
  end
end
