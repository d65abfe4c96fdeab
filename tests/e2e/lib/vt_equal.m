function ok = vt_equal(actual, expected, name)
% vt_equal(actual, expected, name): passes when both have the same class,
% the same size and the same contents (NaN equals NaN).
  ok = strcmp(class(actual), class(expected)) && isequal(size(actual), size(expected)) ...
       && isequaln(actual, expected);
  detail = '';
  if ~ok
    detail = sprintf('expected %s\nactual   %s', vt_show(expected), vt_show(actual));
  end
  vt_record(ok, name, detail);
end
