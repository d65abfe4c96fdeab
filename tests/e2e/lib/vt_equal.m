function ok = vt_equal(actual, expected, name)
% vt_equal(actual, expected, name): passes when both have the same class,
% the same size and the same contents (NaN equals NaN).
  ok = strcmp(class(actual), class(expected)) && isequal(size(actual), size(expected)) ...
       && isequaln(actual, expected);
  vt_record(ok, name, sprintf('expected %s\nactual   %s', show(expected), show(actual)));
end

function s = show(v)   % a one-line description with class and size
  s = sprintf('%s %s', class(v), regexprep(sprintf('%dx', size(v)), 'x$', ''));
  if ischar(v)
    s = [s ' "' strrep(v(:)', "\n", '\n') '"'];
  elseif isnumeric(v) || islogical(v)
    s = [s ' ' mat2str(v(1:min(end, 20)))];
  end
end
