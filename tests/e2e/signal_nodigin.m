% vornsim: --no-digin stream
% 'signal' when module 34 offers no usable digital-input stream: here the
% stream is left out, in signal_nodigin_enable.m its signal descriptor names
% an Int instead of its enable Bool. The cache still becomes ready, and both
% 'digin' forms fail with "failed to find signal descriptor" without sending
% anything (above all no Bool set to whatever the broken chain points at).
1;

% A refusal that must send nothing. The marker behind it is one set of
% electrode 1's spike enable (module 2, property 69) to its current value.
function check_refusal(fhandle, name)
  mark = vt_log_mark();
  vt_error(fhandle, 'failed to find signal descriptor', name);
  vornmex('signal', 1, 'spk', double(vornmex('signal', 1, 'spk')));
  is_marker = @(e) strcmp(e.kind, 'set') && e.target_module == 2 && e.property == 69;
  vt_wait(@() any(cellfun(is_marker, vt_log_since(mark))), 10);
  got = vt_log_since(mark);
  kinds = cellfun(@(e) e.kind, got, 'UniformOutput', false);
  vt_record(numel(got) == 1 && is_marker(got{1}), [name ' (nothing sent)'], ...
            sprintf('received after the call: %s', strjoin(kinds, ', ')));
end

vt_equal(vornmex(), true, 'the cache becomes ready');
check_refusal(@() vornmex('signal', 'digin'), 'reading ''digin''');
check_refusal(@() vornmex('signal', 'digin', 1), 'switching ''digin'' on');
check_refusal(@() vornmex('signal', 'digin', 0), 'switching ''digin'' off');
vt_error(@() vornmex('signal', 'Digin'), 'invalid signal: Digin', ...
         'the name is checked before the descriptor');
vt_done();
