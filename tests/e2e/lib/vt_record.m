function vt_record(ok, name, detail)
% vt_record(ok, name [, detail]) counts one check and prints its outcome.
% The counts live in globals so that every helper of a script shares them.
  global VT_PASSED VT_FAILED
  VT_PASSED = sum(VT_PASSED) + ok;
  VT_FAILED = sum(VT_FAILED) + ~ok;
  if ok
    printf('ok    %s\n', name);
  elseif nargin < 3 || isempty(detail)
    printf('FAIL  %s\n', name);
  else
    printf('FAIL  %s\n      %s\n', name, strrep(detail, "\n", "\n      "));
  end
  fflush(stdout);
end
