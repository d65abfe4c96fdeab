function s = vt_show(value)
% vt_show(value): a one-line description of a value with its class and size.
  sz = sprintf('%dx', size(value));
  sz = sz(1:end-1);
  if ischar(value)
    s = sprintf('char %s "%s"', sz, strrep(value(:)', "\n", '\n'));
  elseif isnumeric(value) || islogical(value)
    if numel(value) <= 20
      s = sprintf('%s %s %s', class(value), sz, mat2str(value));
    else
      s = sprintf('%s %s %s ...', class(value), sz, mat2str(value(1:20)));
    end
  else
    s = sprintf('%s %s', class(value), sz);
  end
end
