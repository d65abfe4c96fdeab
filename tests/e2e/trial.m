% 'opers' and 'trial' against the simulator's operators 129 and 131: the
% packets of a trial call (request, record, request) byte for byte, the
% edits of each argument, what the operator reports back, every refusal, and
% an operator that does not answer.
1;

function t = trial_struct(status, filebase, auto_incr, stop_time, incr_num)
  t = struct('status', status, 'filebase', filebase, 'auto_incr', auto_incr, ...
             'stop_time', stop_time, 'incr_num', incr_num);
end

vt_equal(vornmex('opers'), [129 131], 'operator ids in ascending order');

%% Each call: the record goes back with the call's edits; what the operator
%% reports is returned. {arguments, operator, edit of its record, report, name}
recs = {vt_trial_record(129, 'C:\data\op129\trial', 0, 1, 1), vt_trial_record(131, '/data/op131/run', 1, 7, 1)};
calls = {
  {0}, 129, @(r) r, trial_struct('stopped', 'C:\data\op129\trial', 0, 0, 1), ...
    'operator 0 is operator 129; no changes: the record goes back unchanged'
  {131, 'recording'}, 131, @(r) vt_put_u32(r, 540, 2), trial_struct('recording', '/data/op131/run', 1, 0, 7), ...
    'status ''recording'' writes code 2 and nothing else'
  {131.9, [], 'run2'}, 131, @(r) [r(1:28) uint8('run2') 0 r(34:end)], trial_struct('recording', 'run2', 1, 0, 7), ...
    'a [] placeholder; the file name base copied with its zero, the rest of the old one stays behind it'
  {129, 'paused', [], 60, 2.5}, 129, @(r) vt_put_u32(vt_put_u32(vt_put_u32(r, 540, 3), 8, 60), 12, 1), ...
    trial_struct('paused', 'C:\data\op129\trial', 1, 60, 1), 'paused, stop time 60, increment on'
  {129, [], [], 4294967295.5, 0, 9.9}, 129, @(r) vt_put_u32(vt_put_u32(vt_put_u32(r, 8, 4294967295), 12, 0), 16, 9), ...
    trial_struct('paused', 'C:\data\op129\trial', 0, 4294967295, 9), ...
    'stop time, increment off and number, status kept; unsigned 32-bit values come back'};
for i = 1:rows(calls)
  [args, id, edit, report, name] = calls{i, :};
  k = 1 + (id == 131);
  recs{k} = edit(recs{k});
  mark = vt_log_mark();
  t = vornmex('trial', args{:});
  [~, hexes] = vt_sent_since(mark);
  vt_equal(hexes, vt_trial_call(id, recs{k}), [name ': request, record, request']);
  vt_equal(t, report, [name ': the report']);
end
vt_equal(fieldnames(t), {'status'; 'filebase'; 'auto_incr'; 'stop_time'; 'incr_num'}, 'the five fields in order');
long = repmat('f', 1, 511);
vt_equal(vornmex('trial', 129, 'stopped', long, [], NaN), trial_struct('stopped', long, 1, 4294967295, 9), ...
         'a file name base of 511 characters fits; auto_incr NaN counts as on');

%% Refusals before anything is sent
usage = ['usage: vornmex(''trial'', operator_id, ''recording''|''stopped''|''paused'', ' ...
         'file_name_base, auto_stop_time, auto_incr, incr_num)'];
tooLong = 'file name base too long: at most 511 characters';
vt_refused('''trial'' refusals before the first request', {
  @() vornmex('trial'), usage, 'no operator id'
  @() vornmex('trial', 140), 'could not find operator', 'an unknown operator'
  @() vornmex('trial', NaN), 'could not find operator', 'operator NaN'
  @() vornmex('trial', 'a'), 'could not find operator', 'an operator id that is text'
  @() vornmex('trial', 129, 'stopped', repmat('g', 1, 512)), tooLong, 'a file name base of 512 characters'
  @() vornmex('trial', 129, 'Recording', repmat('g', 1, 20000)), tooLong, 'the file name length is checked before the status'});

%% Refusals after the first request: the record is not sent back
range = ': a number from -2147483648 to 4294967295 is needed';
mark = vt_log_mark();
vt_errors({
  @() vornmex('trial', 129, 'Recording'), 'status must be "recording", "stopped", or "paused"', 'a status in the wrong case'
  @() vornmex('trial', 131, 2), 'invalid status string', 'a status that is no text'
  @() vornmex('trial', 129, 'stopped', 5), 'invalid file path base', 'a file name base that is no text'
  @() vornmex('trial', 129, [], [], NaN), ['invalid auto_stop_time' range], 'a stop time NaN'
  @() vornmex('trial', 129, [], [], [], [], 2^32), ['invalid incr_num' range], 'an increment number beyond 32 bits'
  @() vornmex('trial', 129, [], [], [], 'on'), 'invalid auto_incr: a number is needed', 'an increment switch that is text'});
[~, hexes] = vt_sent_since(mark);
requests = cellfun(@(c) c{1}, {vt_trial_call(129, []), vt_trial_call(131, [])}, 'UniformOutput', false);
vt_equal(hexes, requests([1 2 1 1 1 1]), 'each refused call sent its first request only');
vt_equal(vornmex('trial', 129), trial_struct('stopped', long, 1, 4294967295, 9), 'refused calls changed nothing');

%% An operator that does not answer (the simulator is stopped)
mark = vt_log_mark();
vt_sim_signal('SIGSTOP');
vt_error(@() vornmex('trial', 131, 'stopped'), 'operator 131 did not answer the trial request', ...
         'no answer within the first wait');
vt_sim_signal('SIGCONT');
[~, hexes] = vt_sent_since(mark);
vt_equal(hexes, requests(2), 'only the first request was sent');
vt_done();
