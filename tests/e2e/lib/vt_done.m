function vt_done()
% vt_done(): prints 'N passed, M failed' alone on a line; exits Octave with
% status 1 when a check failed.
  global VT_PASSED VT_FAILED
  if isempty(VT_PASSED), VT_PASSED = 0; end
  if isempty(VT_FAILED), VT_FAILED = 0; end
  printf('%d passed, %d failed\n', VT_PASSED, VT_FAILED);
  fflush(stdout);
  if VT_FAILED > 0
    exit(1);
  end
end
