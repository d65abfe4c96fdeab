function hex = vt_hex(bytes)
% vt_hex(bytes): the bytes (0..255) as lower-case hex, as the simulator logs them.
  hex = lower(reshape(dec2hex(uint8(bytes), 2)', 1, []));
end
