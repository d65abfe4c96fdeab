function r = vt_trial_record(id, filebase, auto_incr, incr_num, status)
% vt_trial_record(id, filebase, auto_incr, incr_num, status): the simulator's
% initial 552-byte trial record of an operator.
  r = zeros(1, 552, 'uint8');
  r(1:2) = [1 21];
  r(29:28 + numel(filebase)) = uint8(filebase);
  r = vt_put_u32(vt_put_u32(vt_put_u32(vt_put_u32(r, 4, id), 12, auto_incr), 16, incr_num), 540, status);
end
