function ok = vt_sends_nothing(fhandle, expectedMessage, name)
% ok = vt_sends_nothing(fhandle, expectedMessage, name): like vt_error, and
% also checks that the failing call sent nothing. To know that everything
% the call might have sent has arrived, a marker packet follows it (the
% digital-input enable set again to its current value) and the check waits
% for the marker: it must be the only packet the simulator received.
  mark = vt_log_mark();
  ok = vt_error(fhandle, expectedMessage, name);
  value = vornmex('signal', 'digin');
  vornmex('signal', 'digin', double(value));
  is_marker = @(e) strcmp(e.kind, 'set') && e.target_module == 34 && e.property == 17;
  vt_wait(@() any(cellfun(is_marker, vt_log_since(mark))), 5);
  received = vt_log_since(mark);
  quiet = numel(received) == 1 && is_marker(received{1});
  detail = '';
  if ~quiet
    kinds = cellfun(@(e) e.kind, received, 'UniformOutput', false);
    detail = sprintf('received after the call: %s', strjoin(kinds, ', '));
  end
  vt_record(quiet, [name ' (nothing sent)'], detail);
  ok = ok && quiet;
end
