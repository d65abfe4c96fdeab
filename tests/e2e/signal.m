% 'signal' against the simulator: stream listings, enable reads, switching
% streams on and off (the simulator starts and stops them and announces the
% new enables), per-channel spike switches, the digital-input stream, and
% every refusal (which must send nothing).
1;

% Calls vornmex('signal', args...); checks that it sends exactly one Bool set
% (20 bytes) per property, in order, of module to value (one for all, or one
% each), all applied; then waits until reading rargs gives readback.
function switch_to(args, module, properties, value, rargs, readback, name)
  value = value + zeros(size(properties));
  mark = vt_log_mark();
  vornmex('signal', args{:});
  sets = vt_log_since(mark, 'set', numel(properties));
  expected = arrayfun(@(p, v) sprintf('050000000100000001%02x%02x%02x01030000%02x000000', module, ...
                                      mod(p, 256), floor(p / 256), v), properties, value, 'UniformOutput', false);
  got = cellfun(@(s) s.bytes, sets, 'UniformOutput', false);
  vt_record(isequal(got, expected) && all(cellfun(@(s) s.applied, sets)), [name ': the Bool sets'], ...
            sprintf('expected %s ...\nreceived %s', expected{1}, strjoin(got(1:min(end, 3)), ' ')));
  vt_wait(@() isequal(vornmex('signal', rargs{:}), readback), 10, [name ': the enables read back']);
end

%% Listing
vt_equal(vornmex('signal', 5), {'hi-res', 'lfp', 'raw', 'rms', 'spk'}, ...
         'one electrode: its module''s names sorted, then the spike module''s, hidden ''diag'' dropped');
vt_equal(vornmex('signal', [5 130 10241]), ...
         {{'hi-res', 'lfp', 'raw', 'rms', 'spk'}, {'hi-res', 'lfp', 'raw', 'rms', 'stim', 'spk'}, {'lfp', 'raw'}}, ...
         'several electrodes: one cell each, in order; analog input lists only its module');
vt_equal(vornmex('signal', [130; 5]), {'hi-res', 'lfp', 'raw', 'rms', 'stim', 'spk'}, ...
         'a column vector counts as its first electrode');

%% Enable reads
vt_equal(vornmex('signal', [1 33 10241], 'raw'), int32([1 0 0]), '''raw'' is on only for the first front end');
vt_equal(vornmex('signal', [1 2 130], 'spk'), int32([1 1 1]), 'spike streams are on');

%% A continuous stream: one set per channel enable of the front end
switch_to({33, 'raw', 1}, 3, 45:76, 1, {[33 64], 'raw'}, int32([1 1]), '''raw'' on for electrode 33');
vt_wait(@() any(vornmex('cont', 33, 10, 'raw') ~= 0), 10, 'the simulator streams module 3 ''raw'' now');
switch_to({40, 'raw', 0}, 3, 45:76, 0, {[33 64], 'raw'}, int32([0 0]), '''raw'' off for electrode 40');
stale = @() double(vornmex('time')) - double(vt_output(2, @vornmex, 'cont', 33, 1, 'raw'));
vt_wait(@() stale() > 3000, 10, 'the simulator stops streaming module 3 ''raw''');

%% Spike streams: each electrode's own channel; electrode x is key (x - 1)
%% truncated toward zero
switch_to({[1 2 3], 'spk', 0}, 2, [69 70 71], 0, {[1 2 3 4], 'spk'}, int32([0 0 0 1]), ...
          '''spk'' off for electrodes 1..3 (channel 4 untouched)');
switch_to({[3 1 2], 'spk', 1}, 2, [71 69 70], 1, {[1 2 3], 'spk'}, int32([1 1 1]), ...
          'one value for several electrodes applies to all, in order');
switch_to({[0.5 1.7 2.9], 'spk', 0}, 2, [69 69 70], 0, {[0.25 1 2 3], 'spk'}, int32([0 0 0 1]), ...
          '0.5 and 1.7 address electrode 1, 2.9 electrode 2');
switch_to({[129 130], 'spk', [0 0.5]}, 10, [69 70], [0 1], {[129 130], 'spk'}, int32([0 1]), ...
          'per-electrode values: 0 is off, 0.5 is on');
switch_to({129, 'spk', NaN}, 10, 69, 1, {[129 130], 'spk'}, int32([1 1]), 'NaN switches on');

%% The digital-input stream
vt_equal(vornmex('signal', 'digin'), int32(1), '''digin'' reads as on');
switch_to({'digin', 0.5}, 34, 17, 0, {'digin'}, int32(0), '''digin'' 0.5 truncates to 0');
switch_to({'digin', -3}, 34, 17, 1, {'digin'}, int32(1), '''digin'' -3 switches on');

%% Refusals
vt_refused('''signal'' refusals', {
  @() vornmex('signal'), 'usage: vornmex(''signal'', elec, [stream, [value (0|1))] ]', 'no arguments'
  @() vornmex('signal', 'Digin', 1), 'invalid signal: Digin', 'a name other than digin'
  @() vornmex('signal', repmat('d', 1, 40), 0), 'invalid signal: name of 40 characters (the only signal name is ''digin'')', 'a signal name of 32 characters or more'
  @() vornmex('signal', 'digin', 0, 1), 'usage: vornmex(''signal'', ''digin'', [value (0|1)])', '''digin'' with two values'
  @() vornmex('signal', 'digin', 'x'), 'invalid value: digin takes 0 or 1', '''digin'' with a text value'
  @() vornmex('signal', 'digin', []), 'invalid value: digin takes 0 or 1', '''digin'' with an empty value'
  @() vornmex('signal', 5, 7, 1), 'invalid signal string', 'a stream that is not text (the message ends in a line feed)'
  @() vornmex('signal', [1 2 3], 'raw', [1 0]), 'size of electrodes and enables values must match', 'three electrodes, two values'
  @() vornmex('signal', 1, 'raw', [1 0]), 'size of electrodes and enables values must match', 'one electrode, two values'
  @() vornmex('signal', [1 2], 'raw', zeros(0, 1)), 'size of electrodes and enables values must match', 'no values'
  @() vornmex('signal', [1 2], 'raw', 'ab'), 'enable values must be real numbers', 'text values'
  @() vornmex('signal', 0), 'electrode 0 not found', 'electrode 0'
  @() vornmex('signal', -0.5), 'electrode 0 not found', 'electrode -0.5: key -1, named truncated toward zero'
  @() vornmex('signal', [1 -3.7], 'raw', 1), 'electrode -3 not found', 'a negative electrode, named truncated toward zero'
  @() vornmex('signal', 0.5, 'nope', 1), 'stream nope not found for electrode 1', 'a stream refusal names the electrode addressed'
  @() vornmex('signal', [1 999], 'raw', 1), 'electrode 999 not found', 'a later unknown electrode stops the call before any switch'
  @() vornmex('signal', NaN), 'electrode NaN not found', 'electrode NaN'
  @() vornmex('signal', [1 2^40]), 'electrode 1099511627776 not found', 'an electrode number beyond 32 bits'
  @() vornmex('signal', 10241, 'spk', 1), 'stream spk not found for electrode 10241', 'analog inputs have no spike module'
  @() vornmex('signal', 5, 'diag', 1), 'cannot find stream diag for electrode 5', 'a hidden stream (0x08) cannot be switched'
  @() vornmex('signal', 10241, 'temp'), 'cannot find stream temp for electrode 10241', 'a hidden stream (0x04) cannot be read'
  @() vornmex('signal', 1:1025), 'too many electrodes: 1025 (at most 1024 per call)', 'more than 1024 electrodes'
  @() vornmex('signal', struct('e', 1), 'raw', 1), 'elec must be an array of electrode numbers', 'a struct as electrodes'});

%% A later electrode without the stream: earlier switches stay sent
mark = vt_log_mark();
vt_error(@() vornmex('signal', [2 10241], 'spk', 1), 'stream spk not found for electrode 10241', ...
         'the second electrode has no such stream');
[~, hexes] = vt_sent_since(mark);
vt_equal(hexes, {'0500000001000000010246000103000001000000'}, 'the first electrode''s switch was sent');
vt_done();
