% vornsim: --operators 129,131,133 --operator-answers 131:2 --operator-status 129:4 --operator-status 133:0
% 'trial' against operators that misbehave: 131 answers two trial requests
% (the start-up's and the first one of a 'trial' call) and then falls
% silent; 129 and 133 start with the recording status codes 4 and 0, which
% have no text. Each failing call must have sent
% exactly request, record, request, and nothing after them.
1;

function hex = to_hex(bytes)
  hex = lower(reshape(dec2hex(uint8(bytes), 2)', 1, []));
end

function r = put_u32(r, offset, value)
  r(offset + 1:offset + 4) = typecast(uint32(value), 'uint8');
end

% The simulator's initial trial record of an operator.
function r = initial_record(id, filebase, auto_incr, incr_num, status)
  r = zeros(1, 552, 'uint8');
  r(1:2) = [1 21];
  r = put_u32(r, 4, id);
  r(29:28 + numel(filebase)) = uint8(filebase);
  r = put_u32(r, 12, auto_incr);
  r = put_u32(r, 16, incr_num);
  r = put_u32(r, 540, status);
end

function hex = request_hex(id)
  hex = sprintf('0300000001000000%02x000100', id);
end

function hex = record_hex(id, record)
  hex = [sprintf('8d00000001000000%02x000100', id) to_hex(record)];
end

% Checks that the simulator received exactly the packets `expected` (hex)
% after mark. To know that everything has arrived, a marker (the
% digital-input enable set again to its value) is sent and waited for; it
% must come right after them. Returns the log lines of the packets.
function got = check_received(mark, expected, name)
  value = vornmex('signal', 'digin');
  vornmex('signal', 'digin', double(value));
  is_marker = @(e) strcmp(e.kind, 'set') && e.target_module == 34 && e.property == 17;
  vt_wait(@() any(cellfun(is_marker, vt_log_since(mark))), 10);
  got = vt_log_since(mark);
  hexes = cellfun(@(e) e.bytes, got, 'UniformOutput', false);
  ok = numel(got) == numel(expected) + 1 && is_marker(got{end}) ...
       && isequal(hexes(1:end - 1), expected);
  kinds = cellfun(@(e) e.kind, got, 'UniformOutput', false);
  vt_record(ok, name, sprintf('received: %s', strjoin(kinds, ', ')));
  got = got(1:end - 1);
end

function t = trial_struct(status, filebase, auto_incr, stop_time, incr_num)
  t = struct('status', status, 'filebase', filebase, 'auto_incr', auto_incr, ...
             'stop_time', stop_time, 'incr_num', incr_num);
end

vt_equal(vornmex(), true, 'connected to the simulator');
vt_equal(vornmex('opers'), [129 131 133], 'three operators');

%% An operator that answers the first request but not the one after the record
r131 = initial_record(131, '/data/op131/run', 1, 7, 1);
mark = vt_log_mark();
vt_error(@() vornmex('trial', 131, 'recording'), ...
         'operator 131 did not answer after the trial was sent', ...
         'no answer to the request after the record');
got = check_received(mark, {request_hex(131), record_hex(131, put_u32(r131, 540, 2)), ...
                            request_hex(131)}, ...
                     'request, the record with status 2, request, and nothing further');
if numel(got) == 3
  vt_equal([got{1}.answered, got{3}.answered], [1 0], ...
           'the operator answered the first request only');
end

%% Recording status codes without a text
r129 = initial_record(129, 'C:\data\op129\trial', 0, 1, 4);
mark = vt_log_mark();
vt_error(@() vornmex('trial', 129), 'Invalid recording code', 'operator 129 reports status 4');
check_received(mark, {request_hex(129), record_hex(129, r129), request_hex(129)}, ...
               'status 4: the record went back unchanged, nothing after the second request');

r133 = initial_record(133, '/data/op133/trial', 0, 1, 0);
mark = vt_log_mark();
vt_error(@() vornmex('trial', 133), 'Invalid recording code', 'operator 133 reports status 0');
check_received(mark, {request_hex(133), record_hex(133, r133), request_hex(133)}, ...
               'status 0: the record went back unchanged, nothing after the second request');

t = vornmex('trial', 129, 'paused');
vt_equal(t, trial_struct('paused', 'C:\data\op129\trial', 0, 0, 1), ...
         'a status given in the call replaces code 4');

vt_done();
