function vt_sim_signal(sig)
% vt_sim_signal(sig): sends a signal ('SIGSTOP', 'SIGCONT', 'SIGUSR1', ...)
% to the simulator (getenv('VORN_SIM_PID')).
  pid = getenv('VORN_SIM_PID');
  if isempty(pid)
    error('vt_sim_signal: no simulator is running (VORN_SIM_PID unset)');
  end
  sig = regexprep(sig, '^SIG', '');
  [status, out] = system(sprintf('kill -s %s %s', sig, pid));
  if status ~= 0
    error('vt_sim_signal: kill -s %s %s failed: %s', sig, pid, out);
  end
end
