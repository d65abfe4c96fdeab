% 'digout' against the simulator: the control word of each call in the
% packet the simulator receives (and applies), and every refusal (which
% must send nothing).

% {outputs, values, control word, name}
cases = {
  1, 1, '10010000', 'output 1 high'
  1, 0, '10000000', 'output 1 low'
  [2 5], [1 255], '2F0200FF', 'outputs 2 and 5'
  5, -1, '0F00FFFF', 'parallel -1'
  5, 65537, '0F000001', 'parallel 65537'
  3, 0.9, '40000000', 'output 3 at 0.9 is low'
  1.5, 1, '10010000', 'output 1.5 is output 1'
  [1 3], [1 0], '50010000', 'outputs 1 and 3'
  [2 4], [-7 2147483647], 'A00A0000', 'any integer other than 0 is high'
  [4; 1; 2; 3; 5], [1; 1; 1; 1; 4660], 'FF0F1234', 'all five outputs at once (a column)'};
for i = 1:rows(cases)
  mark = vt_log_mark();
  vornmex('digout', cases{i, 1:2});
  got = vt_log_since(mark, 'digout', 1);
  word = typecast(uint32(hex2dec(cases{i, 3})), 'uint8');
  vt_equal(got{1}.bytes, ['0800000000000000' '01223500' '01040000' vt_hex(word) repmat('00', 1, 12)], ...
           sprintf('%s: the 32-byte set with word 0x%s', cases{i, [4 3]}));
end
vt_equal({got{1}.outputs(:)', got{1}.parallel}, {[1 1 1 1], 4660}, 'the simulator applied the last word');

range = ' out of range (an integer from -2147483648 to 2147483647)';
vt_refused('''digout'' refusals', {
  @() vornmex('digout', 1), 'usage: vornmex(''digital'', outputs, values)', 'no values'
  @() vornmex('digout', [1 2], [1; 0]), 'outputs and values sizes must match', '1x2 outputs, 2x1 values'
  @() vornmex('digout', [1 2], ones(1, 2, 2)), 'outputs and values sizes must match', 'different numbers of dimensions'
  @() vornmex('digout', ones(1, 1, 2), ones(1, 1, 2)), 'dimensions must be less than 2', 'three dimensions'
  @() vornmex('digout', [1 2 3 4 5 1], ones(1, 6)), 'invalid inputs', 'six outputs'
  @() vornmex('digout', [], []), 'invalid inputs', 'no outputs'
  @() vornmex('digout', 6, 1), 'invalid output.', 'output 6'
  @() vornmex('digout', 0, 1), 'invalid output.', 'output 0'
  @() vornmex('digout', [1 NaN], [1 1]), 'invalid output.', 'output NaN'
  @() vornmex('digout', 'a', 1), 'invalid output.', 'an output that is no number'
  @() vornmex('digout', [1 1], [1 0]), 'digital output 1 named more than once', 'an output named twice'
  @() vornmex('digout', [4 2 4.5], [1 1 0]), 'digital output 4 named more than once', '4 and 4.5 are one output'
  @() vornmex('digout', 1, NaN), ['digital output value NaN' range], 'a value NaN'
  @() vornmex('digout', 5, 2^32), ['digital output value 4294967296' range], 'a value beyond 32 bits'
  @() vornmex('digout', 1, 'x'), 'digital output values must be real numbers', 'a value that is no number'});
vt_done();
