function ok = vt_check(cond, name)
% vt_check(cond, name): passes when cond is a true scalar.
  ok = (islogical(cond) || isnumeric(cond)) && isscalar(cond) && logical(cond);
  vt_record(ok, name);
end
