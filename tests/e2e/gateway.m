% The gateway against the simulator: connection start, argument checks,
% 'time', 'help', 'priority', 'close', a simulator that stops and restarts,
% and a configuration change.
1;

function n = discoveries()   % the discovery requests the simulator received
  n = sum(cellfun(@(e) e.target_module == 255 && e.property == 0, vt_log_entries('request')));
end

vt_equal(vornmex(), true, 'vornmex() is true against the simulator');
t1 = vornmex('time');
vt_check(isa(t1, 'double') && isscalar(t1) && t1 > 0, '''time'' is a positive double scalar');
vt_wait(@() vornmex('time') > t1, 5, '''time'' advances');

%% Argument types, checked in order before anything else; then the command
usage = 'usage: vornmex(<command>, <args>';
vt_errors({
  @() vornmex(true), 'convert logical inputs to double', 'a logical argument'
  @() vornmex('time', 1, false), 'convert logical inputs to double', 'a logical argument after others'
  @() vornmex(int32(1)), 'all numeric inputs must be doubles', 'an int32 argument'
  @() vornmex({}), 'vornmex inputs must be of types char, double, or struct', 'a cell argument'
  @() vornmex(int8(1), true), 'all numeric inputs must be doubles', 'the first failing argument decides'
  % A sparse array stores only its non-zero elements: read as a full one it
  % would be read far past its end.
  @() vornmex('spike', sparse(1, 100000)), 'sparse inputs are not supported: use full()', 'a sparse electrode list'
  @() vornmex('digout', sparse([1 2]), [0 1]), 'sparse inputs are not supported: use full()', 'sparse outputs'
  @() vornmex(5), usage, 'a double as first argument'
  @() vornmex('abcdefghijklmnop'), usage, 'a command of 16 characters'});
for args = {{'Time'}, {''}, {'abcdefghijklmno'}, {'no such', struct('a', 1)}}
  vt_equal(vornmex(args{1}{:}), true, sprintf('unknown command ''%s'' gives the ready flag', args{1}{1}));
end

%% 'help'
commands = {'close', 'close UDP socket and delete cached data'; 'time', 'display latest KEL time'
            'priority', 'change vornmex thread priority'; 'opers', 'find Osprane operators on the network'
            'trial', 'control file save on Osprane operators'
            'elec', 'retrieve electrode numbers by type of headstage.'; 'signal', 'enable or disable signals'
            'filter', 'modify and retrieve filter information'; 'cont', 'get continuous data'
            'spike', 'get recent spike counts and times'; 'digin', 'retrieve digital inputs'
            'digout', 'control digital outputs'; 'stim', 'send stim control string'
            'stimseq', 'complex control of stimulation'}';
expected = ["usage: vornmex(cmdstr [, args])\n" sprintf("\t'%s' - %s\n", commands{:}) ...
            "\n\tFor more info, type command strings without arguments\n"];
vt_equal(evalc('vornmex(''help'')'), expected, '''help'' prints its 17 lines');

%% 'priority'
vt_equal(vornmex('priority'), 'highest', 'the listening thread starts at ''highest''');
vornmex('priority', 'below');
vt_equal(vornmex('priority'), 'below', '''priority'' reads back what was set');
vt_errors({
  @() vornmex('priority', 'Normal'), ['Invalid error string.  Must be: ''time-critical'', ' ...
    '''highest'', ''above'', ''normal'', ''below'', and ''lowest'''], 'an unknown priority name'
  @() vornmex('priority', 3), 'priority must be string', 'a priority that is no string'});
vt_equal(vornmex('priority'), 'below', 'a refused priority changes nothing');
vornmex('priority', 'highest');

%% 'close' twice in a row
before = discoveries();
vornmex('close');
vt_equal(discoveries(), before, '''close'' on an open connection sends nothing');
vornmex('close');
vt_equal(discoveries(), before + 1, 'a second ''close'' starts a fresh connection and closes it');
vt_equal(vornmex(), true, 'the call after ''close'' connects again');
vt_equal(discoveries(), before + 2, '... with a discovery of its own');

%% A stopped simulator: for longer than the receive time-out (the listening
%% thread must outlive it) every call answers from the cache
vt_sim_signal('SIGSTOP');
stopped = vornmex('time');
vt_equal(vt_raises(@() assert(vornmex('time') == stopped && vornmex()), 1.5), '', ...
         'while the simulator is stopped every call answers from the cache');
vt_sim_signal('SIGCONT');
vt_wait(@() vornmex('time') > stopped, 5, 'new data arrives after the simulator resumes');

%% The simulator's clock restarts (at 30000) once more than the 5 s of the
%% continuous rings have passed: a jump back by more than they span
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
vt_equal(vt_raises(@() vornmex('time'), 5), 'vornmex: KEL configuration changed.  Please restart vornmex.', ...
         'data from an unknown module: the configuration changed');
before = discoveries();
vt_raises(@() vornmex(), 0);   % the simulator keeps sending that data: this call may meet it again
vt_equal(discoveries(), before + 1, 'the call after it starts a new connection');

vornmex('close');
vt_done();
