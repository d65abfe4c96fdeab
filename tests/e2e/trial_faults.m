% vornsim: --operators 129,131,133 --operator-answers 131:2 --operator-status 129:4 --operator-status 133:0
% 'trial' against operators that misbehave: 131 answers two trial requests
% (the start-up's and the first of a 'trial' call), then falls silent; 129
% and 133 report the recording status codes 4 and 0, which have no text.

vt_equal(vornmex('opers'), [129 131 133], 'three operators');

%% An operator that answers the first request but not the one after the record
mark = vt_log_mark();
vt_error(@() vornmex('trial', 131, 'recording'), 'operator 131 did not answer after the trial was sent', ...
         'no answer to the request after the record');
[got, hexes] = vt_sent_since(mark);
vt_equal(hexes, vt_trial_call(131, vt_trial_record(131, '/data/op131/run', 1, 7, 2)), ...
         'request, the record with status 2, request, and nothing further');
vt_equal(cellfun(@(e) e.answered, got([1 end])), [1 0], 'the operator answered the first request only');

%% Recording status codes without a text: the record goes back unchanged
for op = {129, 'C:\data\op129\trial', 4; 133, '/data/op133/trial', 0}'
  mark = vt_log_mark();
  vt_error(@() vornmex('trial', op{1}), 'Invalid recording code', sprintf('operator %d reports status %d', op{[1 3]}));
  [~, hexes] = vt_sent_since(mark);
  vt_equal(hexes, vt_trial_call(op{1}, vt_trial_record(op{1}, op{2}, 0, 1, op{3})), ...
           sprintf('status %d: request, the record unchanged, request, nothing after', op{3}));
end
vt_equal(vornmex('trial', 129, 'paused'), struct('status', 'paused', 'filebase', 'C:\data\op129\trial', ...
         'auto_incr', 0, 'stop_time', 0, 'incr_num', 1), 'a status given in the call replaces code 4');
vt_done();
