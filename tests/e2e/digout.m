% 'digout' against the simulator: the control word of each call in the
% packet the simulator receives (and applies), and every refusal (which
% must send nothing).
1;

% The 32-byte digital output set carrying word, as hex.
function hex = digout_hex(word)
  w = typecast(uint32(word), 'uint8');
  hex = ['0800000000000000' '01223500' '01040000' sprintf('%02x', w) repmat('00', 1, 12)];
end

% Sends one call and checks the packet the simulator logs for it.
function entry = check_word(outputs, values, word, name)
  mark = vt_log_mark();
  vornmex('digout', outputs, values);
  vt_wait(@() numel(vt_log_since(mark, 'digout')) >= 1, 10);
  got = vt_log_since(mark, 'digout');
  entry = [];
  if isempty(got)
    vt_record(false, name, 'the simulator logged no digital output set');
    return;
  end
  entry = got{1};
  vt_equal(entry.bytes, digout_hex(word), name);
end

vt_equal(vornmex(), true, 'connected to the simulator');

%% Output words
check_word(1, 1, hex2dec('10010000'), 'output 1 high: 0x10010000');
e = check_word(1, 0, hex2dec('10000000'), 'output 1 low: 0x10000000');
vt_equal(e.outputs(:)', [0 0 0 0], 'the simulator set output 1 low');
e = check_word([2 5], [1 255], hex2dec('2F0200FF'), 'outputs 2 and 5: 0x2F0200FF');
vt_equal({e.outputs(:)', e.parallel}, {[0 1 0 0], 255}, 'the simulator applied outputs 2 and 5');
check_word(5, -1, hex2dec('0F00FFFF'), 'parallel -1: 0x0F00FFFF');
check_word(5, 65537, hex2dec('0F000001'), 'parallel 65537: 0x0F000001');
check_word(3, 0.9, hex2dec('40000000'), 'output 3 at 0.9 is low');
check_word(1.5, 1, hex2dec('10010000'), 'output 1.5 is output 1');
check_word([1 3], [1 0], hex2dec('50010000'), 'outputs 1 and 3');
e = check_word([4; 1; 2; 3; 5], [1; 1; 1; 1; 4660], hex2dec('FF0F1234'), ...
               'all five outputs at once (a column)');
vt_equal({e.outputs(:)', e.parallel}, {[1 1 1 1], 4660}, 'the simulator applied all five');
check_word([2 4], [-7 2147483647], hex2dec('A00A0000'), 'any integer other than 0 is high');

%% Refusals, none of which sends anything
vt_sends_nothing(@() vornmex('digout', 1), 'usage: vornmex(''digital'', outputs, values)', ...
                 'no values');
vt_sends_nothing(@() vornmex('digout', [1 2], [1; 0]), 'outputs and values sizes must match', ...
                 '1x2 outputs, 2x1 values');
vt_sends_nothing(@() vornmex('digout', [1 2], ones(1, 2, 2)), 'outputs and values sizes must match', ...
                 'different numbers of dimensions');
vt_sends_nothing(@() vornmex('digout', ones(1, 1, 2), ones(1, 1, 2)), ...
                 'dimensions must be less than 2', 'three dimensions');
vt_sends_nothing(@() vornmex('digout', [1 2 3 4 5 1], ones(1, 6)), 'invalid inputs', 'six outputs');
vt_sends_nothing(@() vornmex('digout', [], []), 'invalid inputs', 'no outputs');
vt_sends_nothing(@() vornmex('digout', 6, 1), 'invalid output.', 'output 6');
vt_sends_nothing(@() vornmex('digout', 0, 1), 'invalid output.', 'output 0');
vt_sends_nothing(@() vornmex('digout', [1 NaN], [1 1]), 'invalid output.', 'output NaN');
vt_sends_nothing(@() vornmex('digout', 'a', 1), 'invalid output.', 'an output that is no number');
vt_sends_nothing(@() vornmex('digout', [1 1], [1 0]), 'digital output 1 named more than once', ...
                 'an output named twice');
vt_sends_nothing(@() vornmex('digout', [4 2 4.5], [1 1 0]), 'digital output 4 named more than once', ...
                 '4 and 4.5 are the same output');
vt_sends_nothing(@() vornmex('digout', 1, NaN), ...
                 'digital output value NaN out of range (an integer from -2147483648 to 2147483647)', ...
                 'a value NaN');
vt_sends_nothing(@() vornmex('digout', 5, 2^32), ...
                 'digital output value 4294967296 out of range (an integer from -2147483648 to 2147483647)', ...
                 'a value beyond 32 bits');
vt_sends_nothing(@() vornmex('digout', 1, 'x'), 'digital output values must be real numbers', ...
                 'a value that is no number');

vt_done();
