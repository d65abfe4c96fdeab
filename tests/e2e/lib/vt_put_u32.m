function r = vt_put_u32(r, offset, value)
% vt_put_u32(r, offset, value): the bytes r with a little-endian uint32 at offset.
  r(offset + 1:offset + 4) = typecast(uint32(value), 'uint8');
end
