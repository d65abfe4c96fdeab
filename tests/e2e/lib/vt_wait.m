function ok = vt_wait(condition, timeout_s, name)
% ok = vt_wait(condition, timeout_s [, name]): calls condition() until it
% returns true (an error counts as false) or timeout_s seconds have passed.
% With a name the outcome counts as a check.
  t0 = tic;
  while true
    try
      ok = logical(condition());
    catch
      ok = false;
    end
    if ok || toc(t0) > timeout_s
      break;
    end
    pause(0.01);
  end
  if nargin >= 3
    vt_record(ok, name, sprintf('condition not met within %g s', timeout_s));
  end
end
