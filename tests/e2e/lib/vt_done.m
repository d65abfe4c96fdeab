function vt_done()
% vt_done(): prints 'N passed, M failed' alone on a line; exits Octave with
% status 1 when a check failed.
  global VT_PASSED VT_FAILED
  printf('%d passed, %d failed\n', sum(VT_PASSED), sum(VT_FAILED));
  fflush(stdout);
  if sum(VT_FAILED) > 0
    exit(1);
  end
end
