function vt_sim_signal(sig)
% vt_sim_signal(sig): sends a signal ('SIGSTOP', 'SIGCONT', 'SIGUSR1', ...)
% to the simulator (getenv('VORN_SIM_PID')).
  [status, out] = system(sprintf('kill -s %s %s', regexprep(sig, '^SIG', ''), getenv('VORN_SIM_PID')));
  if status ~= 0 || isempty(getenv('VORN_SIM_PID'))
    error('vt_sim_signal: could not send %s to the simulator: %s', sig, out);
  end
end
