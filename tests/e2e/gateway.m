% The gateway against the simulator: connection start, argument checks,
% 'time', 'help', 'priority', 'close', a simulator that stops and restarts,
% and a configuration change.

%% Connection start
t0 = tic;
ready = vornmex();
printf('first call ready after %.3f s\n', toc(t0));
vt_equal(ready, true, 'vornmex() is true against the simulator');
vt_equal(vornmex(), true, 'the next call finds the connection ready');

%% 'time'
t1 = vornmex('time');
vt_check(isa(t1, 'double') && isscalar(t1) && t1 > 0, '''time'' is a positive double scalar');
vt_wait(@() vornmex('time') > t1, 5, '''time'' advances');
vt_check(isa(vornmex('time', 'ignored', 3), 'double'), '''time'' ignores further arguments');

%% Argument types, checked in order before anything else
vt_error(@() vornmex(true), 'convert logical inputs to double', 'a logical argument');
vt_error(@() vornmex('time', 1, false), 'convert logical inputs to double', ...
         'a logical argument after others');
vt_error(@() vornmex(int32(1)), 'all numeric inputs must be doubles', 'an int32 argument');
vt_error(@() vornmex('time', single(2)), 'all numeric inputs must be doubles', ...
         'a single argument');
vt_error(@() vornmex({}), 'vornmex inputs must be of types char, double, or struct', ...
         'a cell argument');
vt_error(@() vornmex('time', @sin), 'vornmex inputs must be of types char, double, or struct', ...
         'a function handle argument');
vt_error(@() vornmex(int8(1), true), 'all numeric inputs must be doubles', ...
         'the first failing argument decides');
vt_equal(vornmex('no such command', struct('a', 1)), true, 'struct arguments are accepted');

%% The command string
vt_error(@() vornmex(5), 'usage: vornmex(<command>, <args>', 'a double as first argument');
vt_error(@() vornmex('abcdefghijklmnop'), 'usage: vornmex(<command>, <args>', ...
         'a command of 16 characters');
vt_equal(vornmex('abcdefghijklmno'), true, 'an unknown command of 15 characters gives the ready flag');
vt_equal(vornmex('Time'), true, '''Time'' (wrong case) gives the ready flag');
vt_equal(vornmex(''), true, 'the empty command gives the ready flag');

%% 'help'
expected = [ ...
  "usage: vornmex(cmdstr [, args])\n", ...
  "\t'close' - close UDP socket and delete cached data\n", ...
  "\t'time' - display latest KEL time\n", ...
  "\t'priority' - change vornmex thread priority\n", ...
  "\t'opers' - find Osprane operators on the network\n", ...
  "\t'trial' - control file save on Osprane operators\n", ...
  "\t'elec' - retrieve electrode numbers by type of headstage.\n", ...
  "\t'signal' - enable or disable signals\n", ...
  "\t'filter' - modify and retrieve filter information\n", ...
  "\t'cont' - get continuous data\n", ...
  "\t'spike' - get recent spike counts and times\n", ...
  "\t'digin' - retrieve digital inputs\n", ...
  "\t'digout' - control digital outputs\n", ...
  "\t'stim' - send stim control string\n", ...
  "\t'stimseq' - complex control of stimulation\n", ...
  "\n", ...
  "\tFor more info, type command strings without arguments\n"];
vt_equal(evalc('vornmex(''help'')'), expected, '''help'' prints its 17 lines');
vt_equal(evalc('vornmex(''help'', 1, ''x'')'), expected, '''help'' ignores further arguments');

%% 'priority'
vt_equal(vornmex('priority'), 'highest', 'the listening thread starts at ''highest''');
vornmex('priority', 'below');
vt_equal(vornmex('priority'), 'below', '''priority'' reads back what was set');
vornmex('priority', 'lowest', 'x');
vt_equal(vornmex('priority'), 'lowest', 'a third argument to ''priority'' is ignored');
vt_error(@() vornmex('priority', 'Normal'), ...
         ['Invalid error string.  Must be: ''time-critical'', ''highest'', ''above'', ' ...
          '''normal'', ''below'', and ''lowest'''], 'an unknown priority name');
vt_error(@() vornmex('priority', 3), 'priority must be string', 'a priority that is no string');
vt_equal(vornmex('priority'), 'lowest', 'a refused name changes nothing');
vornmex('priority', 'highest');
vt_equal(vornmex('priority'), 'highest', 'back to ''highest''');

%% 'close' twice in a row
discoveries = @() numel(vt_log_requests(1, 255, 0));
before = discoveries();
vornmex('close');
vt_equal(discoveries(), before, '''close'' on an open connection sends nothing');
vornmex('close');
vt_equal(discoveries(), before + 1, 'a second ''close'' starts a fresh connection and closes it');
vt_equal(vornmex(), true, 'the call after ''close'' connects again');
vt_equal(discoveries(), before + 2, '... with a discovery of its own');

%% Unloading the MEX file ends the connection (the exit hook); the next
%% call loads it afresh and connects again.
before = discoveries();
clear vornmex
vt_equal(vornmex(), true, 'after ''clear vornmex'' the next call connects again');
vt_equal(discoveries(), before + 1, '... with a discovery of its own');

%% A stopped simulator: commands answer from the cache
vt_sim_signal('SIGSTOP');
stopped = vornmex('time');
% Longer than the receive time-out: the listening thread must outlive it.
t0 = tic;
same = true;
while toc(t0) < 1.5
  same = same && vornmex('time') == stopped && vornmex();
  pause(0.05);
end
vt_check(same, 'while the simulator is stopped every call answers from the cache');
vt_sim_signal('SIGCONT');
vt_wait(@() vornmex('time') > stopped, 5, 'new data arrives after the simulator resumes');

%% The simulator's clock restarts (at 30000, its default start)
% Once more than the 5 s of the continuous rings have passed, a restart is a
% jump back by more than they span.
vt_wait(@() vornmex('time') > 30000 + 160000, 10);
contTime = @() vt_output(2, @vornmex, 'cont', 1, 10, 'raw');
before = vornmex('time');
beforeCont = contTime();
vt_sim_signal('SIGUSR1');
vt_wait(@() vornmex('time') < before, 5, 'the time follows the restarted clock');
restarted = vornmex('time');
vt_wait(@() vornmex('time') > restarted, 5, 'and advances again without ''close''');
vt_wait(@() contTime() < beforeCont, 5, 'continuous data of the restarted clock arrives');
restartedCont = contTime();
vt_wait(@() contTime() > restartedCont, 5, 'and keeps arriving');

%% A configuration the cache cannot match: data from an unknown module
vt_sim_signal('SIGUSR2');
message = '';
t0 = tic;
while isempty(message) && toc(t0) < 5
  try
    vornmex('time');
    pause(0.01);
  catch err
    message = err.message;
  end
end
vt_equal(message, 'vornmex: KEL configuration changed.  Please restart vornmex.', ...
         'data from an unknown module: the configuration changed');
before = discoveries();
try
  % The simulator keeps sending that data, so this call may meet it again.
  printf('the call after it returned %d\n', vornmex());
catch err
  printf('the call after it raised "%s"\n', err.message);
end
vt_equal(discoveries(), before + 1, 'the call after it starts a new connection');

vornmex('close');
vt_done();
