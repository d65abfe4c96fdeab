% 'opers' and 'trial' against the simulator's operators 129 and 131: the
% packets of a trial call (request, record, request) byte for byte, the
% edits of each argument, what the operator reports back, every refusal, and
% an operator that does not answer.
1;

function hex = to_hex(bytes)
  hex = lower(reshape(dec2hex(uint8(bytes), 2)', 1, []));
end

function r = put_u32(r, offset, value)
  r(offset + 1:offset + 4) = typecast(uint32(value), 'uint8');
end

% The simulator's initial trial record of an operator.
function r = initial_record(id, filebase, auto_incr, incr_num)
  r = zeros(1, 552, 'uint8');
  r(1:2) = [1 21];
  r = put_u32(r, 4, id);
  r(29:28 + numel(filebase)) = uint8(filebase);
  r = put_u32(r, 12, auto_incr);
  r = put_u32(r, 16, incr_num);
  r = put_u32(r, 540, 1);
end

function hex = request_hex(id)
  hex = sprintf('0300000001000000%02x000100', id);
end

function hex = record_hex(id, record)
  hex = [sprintf('8d00000001000000%02x000100', id) to_hex(record)];
end

% The trial packets received after mark, once count of them have arrived.
function got = trial_packets(mark, count)
  is_trial = @(e) any(strcmp(e.kind, {'trial_request', 'trial_record'}));
  pick = @() vt_log_since(mark)(cellfun(is_trial, vt_log_since(mark)));
  vt_wait(@() numel(pick()) >= count, 10);
  got = pick();
end

% Checks that the packets of one trial call were request, record, request,
% with the record's bytes as given.
function check_call(mark, id, record, name)
  got = trial_packets(mark, 3);
  hexes = cellfun(@(e) e.bytes, got, 'UniformOutput', false);
  vt_equal(hexes, {request_hex(id), record_hex(id, record), request_hex(id)}, name);
end

% A refusal that comes after the first request: exactly that request is sent.
function check_one_request(fhandle, message, id, name)
  mark = vt_log_mark();
  vt_error(fhandle, message, name);
  value = vornmex('signal', 'digin');
  vornmex('signal', 'digin', double(value));
  is_marker = @(e) strcmp(e.kind, 'set') && e.target_module == 34;
  vt_wait(@() any(cellfun(is_marker, vt_log_since(mark))), 10);
  got = vt_log_since(mark);
  kinds = cellfun(@(e) e.kind, got, 'UniformOutput', false);
  ok = numel(got) == 2 && strcmp(got{1}.bytes, request_hex(id)) && is_marker(got{2});
  vt_record(ok, [name ' (only the first request was sent)'], strjoin(kinds, ', '));
end

function t = trial_struct(status, filebase, auto_incr, stop_time, incr_num)
  t = struct('status', status, 'filebase', filebase, 'auto_incr', auto_incr, ...
             'stop_time', stop_time, 'incr_num', incr_num);
end

vt_equal(vornmex(), true, 'connected to the simulator');

%% Operators
vt_equal(vornmex('opers'), [129 131], 'operator ids in ascending order');
vt_equal(vornmex('opers', 'ignored', 1), [129 131], '''opers'' ignores further arguments');

r129 = initial_record(129, 'C:\data\op129\trial', 0, 1);
r131 = initial_record(131, '/data/op131/run', 1, 7);

%% A trial call without changes: the record goes back unchanged
mark = vt_log_mark();
t = vornmex('trial', 0);
check_call(mark, 129, r129, 'operator 0 is operator 129: request, the record unchanged, request');
vt_equal(t, trial_struct('stopped', 'C:\data\op129\trial', 0, 0, 1), ...
         'the state operator 129 reports');
vt_equal(fieldnames(t), {'status'; 'filebase'; 'auto_incr'; 'stop_time'; 'incr_num'}, ...
         'the five fields in order');

%% Status
mark = vt_log_mark();
t = vornmex('trial', 131, 'recording');
r131 = put_u32(r131, 540, 2);
check_call(mark, 131, r131, 'status ''recording'' writes code 2 and nothing else');
vt_equal(t, trial_struct('recording', '/data/op131/run', 1, 0, 7), ...
         'operator 131 reports that it records');

%% [] placeholders and the file name base
mark = vt_log_mark();
t = vornmex('trial', 131.9, [], 'run2');
r131(29:33) = [uint8('run2') 0];   % the rest of the old name stays behind the zero
check_call(mark, 131, r131, 'a file name base only: copied with its zero, nothing else changes');
vt_equal(t, trial_struct('recording', 'run2', 1, 0, 7), 'operator 131 reports the new name');

%% Stop time and increment
mark = vt_log_mark();
t = vornmex('trial', 129, 'paused', [], 60, 2.5);
r129 = put_u32(put_u32(put_u32(r129, 540, 3), 8, 60), 12, 1);
check_call(mark, 129, r129, 'paused, stop time 60, increment on');
vt_equal(t, trial_struct('paused', 'C:\data\op129\trial', 1, 60, 1), ...
         'operator 129 reports pause, stop time and increment');

mark = vt_log_mark();
t = vornmex('trial', 129, [], [], 4294967295.5, 0, 9.9);
r129 = put_u32(put_u32(put_u32(r129, 8, 4294967295), 12, 0), 16, 9);
check_call(mark, 129, r129, 'stop time, increment off and increment number, status kept');
vt_equal(t, trial_struct('paused', 'C:\data\op129\trial', 0, 4294967295, 9), ...
         'numbers come back as unsigned 32-bit values');

long = repmat('f', 1, 511);
t = vornmex('trial', 129, 'stopped', long, [], NaN);
vt_equal(t, trial_struct('stopped', long, 1, 4294967295, 9), ...
         'a file name base of 511 characters fits; auto_incr NaN counts as on');

%% Refusals before anything is sent
usage = ['usage: vornmex(''trial'', operator_id, ''recording''|''stopped''|''paused'', ' ...
         'file_name_base, auto_stop_time, auto_incr, incr_num)'];
vt_sends_nothing(@() vornmex('trial'), usage, 'no operator id');
vt_sends_nothing(@() vornmex('trial', 140), 'could not find operator', 'an unknown operator');
vt_sends_nothing(@() vornmex('trial', NaN), 'could not find operator', 'operator NaN');
vt_sends_nothing(@() vornmex('trial', 'a'), 'could not find operator', 'an operator id that is text');
vt_sends_nothing(@() vornmex('trial', 129, 'stopped', repmat('g', 1, 512)), ...
                 'file name base too long: at most 511 characters', 'a file name base of 512 characters');
vt_sends_nothing(@() vornmex('trial', 129, 'Recording', repmat('g', 1, 20000)), ...
                 'file name base too long: at most 511 characters', ...
                 'the file name length is checked before the status');

%% Refusals after the first request: the record is not sent back
check_one_request(@() vornmex('trial', 129, 'Recording'), ...
                  'status must be "recording", "stopped", or "paused"', 129, 'a status in the wrong case');
check_one_request(@() vornmex('trial', 131, 2), 'invalid status string', 131, 'a status that is no text');
check_one_request(@() vornmex('trial', 129, 'stopped', 5), 'invalid file path base', 129, ...
                  'a file name base that is no text');
check_one_request(@() vornmex('trial', 129, [], [], NaN), ...
                  'invalid auto_stop_time: a number from -2147483648 to 4294967295 is needed', 129, ...
                  'a stop time NaN');
check_one_request(@() vornmex('trial', 129, [], [], [], [], 2^32), ...
                  'invalid incr_num: a number from -2147483648 to 4294967295 is needed', 129, ...
                  'an increment number beyond 32 bits');
check_one_request(@() vornmex('trial', 129, [], [], [], 'on'), ...
                  'invalid auto_incr: a number is needed', 129, 'an increment switch that is text');
t = vornmex('trial', 129);
vt_equal(t, trial_struct('stopped', long, 1, 4294967295, 9), 'refused calls changed nothing');

%% An operator that does not answer (the simulator is stopped)
vt_sim_signal('SIGSTOP');
mark = vt_log_mark();
vt_error(@() vornmex('trial', 131, 'stopped'), 'operator 131 did not answer the trial request', ...
         'no answer within the first wait');
vt_sim_signal('SIGCONT');
vt_wait(@() ~isempty(vt_log_since(mark, 'trial_request')), 10);
value = vornmex('signal', 'digin');
vornmex('signal', 'digin', double(value));
vt_wait(@() ~isempty(vt_log_since(mark, 'set')), 10);
got = vt_log_since(mark);
vt_equal(cellfun(@(e) e.kind, got, 'UniformOutput', false), {'trial_request', 'set'}, ...
         'only the first request was sent');

vt_done();
