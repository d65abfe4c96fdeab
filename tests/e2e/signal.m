% 'signal' against the simulator: stream listings, enable reads, switching
% streams on and off (the simulator starts and stops them and announces the
% new enables), per-channel spike switches, the digital-input stream, and
% every refusal (which must send nothing).
1;

% The 20-byte property set of a Bool, as hex.
function hex = bool_set_hex(module, property, value)
  hex = sprintf('050000000100000001%02x%02x%02x01030000%02x000000', module, ...
                mod(property, 256), floor(property / 256), value);
end

% Waits until n set packets after mark have arrived; returns them.
function sets = wait_sets(mark, n)
  vt_wait(@() numel(vt_log_since(mark, 'set')) >= n, 10);
  sets = vt_log_since(mark, 'set');
end

function ok = sets_are(sets, module, properties, value, name)
  ok = numel(sets) == numel(properties);
  for i = 1:min(numel(sets), numel(properties))
    ok = ok && strcmp(sets{i}.bytes, bool_set_hex(module, properties(i), value)) ...
            && sets{i}.applied;
  end
  got = strjoin(cellfun(@(s) s.bytes, sets(1:min(end, 3)), 'UniformOutput', false), ' ');
  vt_record(ok, name, sprintf('got %d sets, the first: %s', numel(sets), got));
end

% Output n of f().
function v = nth_output(n, f)
  out = cell(1, n);
  [out{:}] = f();
  v = out{n};
end

vt_equal(vornmex(), true, 'connected to the simulator');

%% Listing
vt_equal(vornmex('signal', 5), {'hi-res', 'lfp', 'raw', 'rms', 'spk'}, ...
         'one electrode: its module''s names sorted, then the spike module''s, hidden ''diag'' dropped');
vt_equal(vornmex('signal', [5 130 10241]), ...
         {{'hi-res', 'lfp', 'raw', 'rms', 'spk'}, ...
          {'hi-res', 'lfp', 'raw', 'rms', 'stim', 'spk'}, ...
          {'lfp', 'raw'}}, ...
         'several electrodes: one cell each, in order; analog input lists only its module');
vt_equal(vornmex('signal', [130; 5]), {'hi-res', 'lfp', 'raw', 'rms', 'stim', 'spk'}, ...
         'a column vector counts as its first electrode');
vt_equal(vornmex('signal', 1.7), vornmex('signal', 1), 'electrode 1.7 is electrode 1');

%% Enable reads
vt_equal(vornmex('signal', [1 33 10241], 'raw'), int32([1 0 0]), ...
         '''raw'' is on only for the first front end');
vt_equal(vornmex('signal', [1 33 10241], 'lfp'), int32([1 1 1]), '''lfp'' is on everywhere');
vt_equal(vornmex('signal', [1 2 130], 'spk'), int32([1 1 1]), 'spike streams are on');
vt_equal(vornmex('signal', zeros(1, 0), 'raw'), zeros(1, 0, 'int32'), ...
         'no electrodes give a 1x0 int32 row');

%% Switching a continuous stream on: one set per channel enable of the front end
mark = vt_log_mark();
vornmex('signal', 33, 'raw', 1);
sets = wait_sets(mark, 32);
sets_are(sets, 3, 45:76, 1, '''raw'' on for electrode 33: 32 sets to module 3, properties 45..76');
vt_wait(@() isequal(vornmex('signal', [33 64], 'raw'), int32([1 1])), 10, ...
        'the re-announced enables read back as on');
vt_wait(@() any(vornmex('cont', 33, 10, 'raw') ~= 0), 10, ...
        'the simulator streams module 3 ''raw'' now');

mark = vt_log_mark();
vornmex('signal', 40, 'raw', 0);
sets = wait_sets(mark, 32);
sets_are(sets, 3, 45:76, 0, '''raw'' off for electrode 40: the same 32 enables to 0');
vt_wait(@() isequal(vornmex('signal', [33 64], 'raw'), int32([0 0])), 10, ...
        'the re-announced enables read back as off');
stale = @() double(vornmex('time')) - double(nth_output(2, @() vornmex('cont', 33, 1, 'raw')));
vt_wait(@() stale() > 3000, 10, 'the simulator stops streaming module 3 ''raw''');

%% Per-channel spike streams: each electrode's own channel
mark = vt_log_mark();
vornmex('signal', [1 2 3], 'spk', 0);
sets = wait_sets(mark, 3);
sets_are(sets, 2, [69 70 71], 0, '''spk'' off for electrodes 1..3: their own channel enables');
vt_wait(@() isequal(vornmex('signal', [1 2 3 4], 'spk'), int32([0 0 0 1])), 10, ...
        'channels 1..3 read back off, channel 4 untouched');
mark = vt_log_mark();
vornmex('signal', [3 1 2], 'spk', 1);
sets = wait_sets(mark, 3);
sets_are(sets, 2, [71 69 70], 1, 'one value for several electrodes applies to all, in order');
vt_wait(@() isequal(vornmex('signal', [1 2 3], 'spk'), int32([1 1 1])), 10, ...
        'channels 1..3 read back on');

%% Electrode numbers that are not whole: the key is (x - 1) truncated toward zero
vt_equal(vornmex('signal', 0.5), vornmex('signal', 1), 'electrode 0.5 lists electrode 1''s streams');
mark = vt_log_mark();
vornmex('signal', [0.5 1.7 2.9], 'spk', 0);
sets = wait_sets(mark, 3);
sets_are(sets, 2, [69 69 70], 0, '0.5 and 1.7 address electrode 1 (key 0), 2.9 electrode 2 (key 1)');
vt_wait(@() isequal(vornmex('signal', [0.25 1 2 3], 'spk'), int32([0 0 0 1])), 10, ...
        'reads through 0.25 give electrode 1''s flag');
mark = vt_log_mark();
vornmex('signal', [0.99 2], 'spk', 1);
sets = wait_sets(mark, 2);
sets_are(sets, 2, [69 70], 1, 'switching back on through 0.99 and 2');
vt_wait(@() isequal(vornmex('signal', [1 2], 'spk'), int32([1 1])), 10, ...
        'electrodes 1 and 2 read back on');

mark = vt_log_mark();
vornmex('signal', [129 130], 'spk', [0 0.5]);
sets = wait_sets(mark, 2);
sets_are(sets(1), 10, 69, 0, 'per-electrode values: 0 is off');
sets_are(sets(2), 10, 70, 1, 'per-electrode values: 0.5 is on');
vornmex('signal', 129, 'spk', NaN);
vt_wait(@() isequal(vornmex('signal', [129 130], 'spk'), int32([1 1])), 10, 'NaN switches on');

%% The digital-input stream
vt_equal(vornmex('signal', 'digin'), int32(1), '''digin'' reads as on');
mark = vt_log_mark();
vornmex('signal', 'digin', 0.5);
sets = wait_sets(mark, 1);
sets_are(sets, 34, 17, 0, '''digin'' 0.5 truncates to 0: one set of module 34 property 17 to 0');
vt_wait(@() vornmex('signal', 'digin') == 0, 10, '''digin'' reads back off');
mark = vt_log_mark();
vornmex('signal', 'digin', -3);
sets = wait_sets(mark, 1);
sets_are(sets, 34, 17, 1, '''digin'' -3 switches on');
vt_wait(@() vornmex('signal', 'digin') == 1, 10, '''digin'' reads back on');

%% Refusals, none of which sends anything
vt_sends_nothing(@() vornmex('signal'), ...
                 'usage: vornmex(''signal'', elec, [stream, [value (0|1))] ]', 'no arguments');
vt_sends_nothing(@() vornmex('signal', 'Digin', 1), 'invalid signal: Digin', ...
                 'a name other than digin');
vt_sends_nothing(@() vornmex('signal', repmat('d', 1, 40), 0), ...
                 'invalid signal: name of 40 characters (the only signal name is ''digin'')', ...
                 'a signal name of 32 characters or more');
vt_sends_nothing(@() vornmex('signal', 'digin', 0, 1), ...
                 'usage: vornmex(''signal'', ''digin'', [value (0|1)])', ...
                 '''digin'' with two values');
vt_sends_nothing(@() vornmex('signal', 'digin', 'x'), 'invalid value: digin takes 0 or 1', ...
                 '''digin'' with a text value');
vt_sends_nothing(@() vornmex('signal', 'digin', []), 'invalid value: digin takes 0 or 1', ...
                 '''digin'' with an empty value');
vt_sends_nothing(@() vornmex('signal', 5, 7, 1), 'invalid signal string', ...
                 'a stream that is not text (the message ends in a line feed)');
vt_sends_nothing(@() vornmex('signal', [1 2 3], 'raw', [1 0]), ...
                 'size of electrodes and enables values must match', 'three electrodes, two values');
vt_sends_nothing(@() vornmex('signal', 1, 'raw', [1 0]), ...
                 'size of electrodes and enables values must match', 'one electrode, two values');
vt_sends_nothing(@() vornmex('signal', [1 2], 'raw', zeros(0, 1)), ...
                 'size of electrodes and enables values must match', 'no values');
vt_sends_nothing(@() vornmex('signal', [1 2], 'raw', 'ab'), 'enable values must be real numbers', ...
                 'text values');
vt_sends_nothing(@() vornmex('signal', 0), 'electrode 0 not found', 'electrode 0');
vt_sends_nothing(@() vornmex('signal', -0.5), 'electrode 0 not found', ...
                 'electrode -0.5 has key -1 and is named 0, truncated toward zero');
vt_sends_nothing(@() vornmex('signal', [1 -3.7], 'raw', 1), 'electrode -3 not found', ...
                 'a negative electrode is named truncated toward zero');
vt_sends_nothing(@() vornmex('signal', 0.5, 'nope', 1), 'stream nope not found for electrode 1', ...
                 'a stream refusal names the electrode addressed (0.5 is electrode 1)');
vt_sends_nothing(@() vornmex('signal', [1 999], 'raw', 1), 'electrode 999 not found', ...
                 'a later unknown electrode stops the call before any switch');
vt_sends_nothing(@() vornmex('signal', NaN), 'electrode NaN not found', 'electrode NaN');
vt_sends_nothing(@() vornmex('signal', [1 2^40]), 'electrode 1099511627776 not found', ...
                 'an electrode number beyond 32 bits');
vt_sends_nothing(@() vornmex('signal', 5, 'nope', 1), 'stream nope not found for electrode 5', ...
                 'an unknown stream');
vt_sends_nothing(@() vornmex('signal', 10241, 'spk', 1), 'stream spk not found for electrode 10241', ...
                 'analog inputs have no spike module');
vt_sends_nothing(@() vornmex('signal', 5, 'diag', 1), 'cannot find stream diag for electrode 5', ...
                 'a hidden stream (0x08) cannot be switched');
vt_sends_nothing(@() vornmex('signal', 10241, 'temp'), 'cannot find stream temp for electrode 10241', ...
                 'a hidden stream (0x04) cannot be read');
vt_sends_nothing(@() vornmex('signal', 1:1025), 'too many electrodes: 1025 (at most 1024 per call)', ...
                 'more than 1024 electrodes');
vt_sends_nothing(@() vornmex('signal', struct('e', 1), 'raw', 1), ...
                 'elec must be an array of electrode numbers', 'a struct as electrodes');

%% A later electrode without the stream: earlier switches stay sent
mark = vt_log_mark();
vt_error(@() vornmex('signal', [1 10241], 'spk', 1), 'stream spk not found for electrode 10241', ...
         'the second electrode has no such stream');
sets = wait_sets(mark, 1);
sets_are(sets, 2, 69, 1, 'the first electrode''s switch was sent');

vt_done();
