function hexes = vt_trial_call(id, record)
% vt_trial_call(id, record): the packets of one 'trial' call to operator id,
% as hex: request, the record sent back, request.
  request = sprintf('0300000001000000%02x000100', id);
  hexes = {request, [sprintf('8d00000001000000%02x000100', id) vt_hex(record)], request};
end
