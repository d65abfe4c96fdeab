function msg = vt_raises(f, timeout_s)
% msg = vt_raises(f, timeout_s): calls f() (at least once) until it raises an
% error and returns that error's message; '' when none came within timeout_s
% seconds.
  t0 = tic;
  do
    try
      f();
      msg = '';
      pause(0.01);
    catch err
      msg = err.message;
    end
  until ~isempty(msg) || toc(t0) >= timeout_s
end
