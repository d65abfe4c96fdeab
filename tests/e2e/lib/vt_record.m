function vt_record(ok, name, detail)
% vt_record(ok, name [, detail]) counts one check and prints its outcome.
% The counts live in globals so that every helper of a script shares them.
  global VT_PASSED VT_FAILED
  if isempty(VT_PASSED), VT_PASSED = 0; end
  if isempty(VT_FAILED), VT_FAILED = 0; end
  if ok
    VT_PASSED = VT_PASSED + 1;
    printf('ok    %s\n', name);
  else
    VT_FAILED = VT_FAILED + 1;
    if nargin < 3 || isempty(detail)
      printf('FAIL  %s\n', name);
    else
      printf('FAIL  %s\n      %s\n', name, strrep(detail, "\n", "\n      "));
    end
  end
  fflush(stdout);
end
