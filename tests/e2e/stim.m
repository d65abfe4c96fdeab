% 'stim' against the simulator: the stim packets of a stim string, the
% switch-off after the longest train (stop packets, then "Stim Enable"
% false), replacing a pending switch-off, failures that switch stimulation
% back off, reading and setting "Stim Enable", and the switch-off at once
% when the connection ends with a switch-off pending.
% Default layout: "Stim Enable" is property 6 of module 0 (off at start);
% electrodes 129..160 stimulate through properties 302.. of module 9.
1;

function hex = enable_set_hex(value)
  hex = sprintf('05000000010000000100060001030000%02x000000', value);
end

% The stim packet of electrode (129..160) carrying words, as hex.
function hex = stim_hex(electrode, words)
  n = numel(words);
  property = 302 + electrode - 129;
  hex = sprintf('%02x00000000000000%02x%02x%02x%02x00000000%02x00%02x000000000000000000', ...
                7 + n, 1, 9, mod(property, 256), floor(property / 256), 2 * n, 2 * n);
  for w = words(:)'
    hex = [hex sprintf('%02x', typecast(uint32(w), 'uint8'))]; %#ok<AGROW>
  end
end

% Packets after mark that set "Stim Enable" (as their value bytes) and stim
% packets (as log entries), in arrival order.
function values = enable_sets(mark)
  values = zeros(1, 0);
  for e = vt_log_since(mark, 'set')
    if e{1}.target_module == 0 && e{1}.property == 6
      values(end + 1) = e{1}.value; %#ok<AGROW>
    end
  end
end

function entries = stops_since(mark)
  entries = {};
  for e = vt_log_since(mark, 'stim')
    if e{1}.repeats == 0 && e{1}.action == 1 && e{1}.period == 0
      entries{end + 1} = e{1}; %#ok<AGROW>
    end
  end
end

function electrodes = stopped_electrodes(mark)
  electrodes = cellfun(@(e) e.electrode, stops_since(mark));
end

% Seq of the last "Stim Enable" false after mark (0 if none).
function seq = switch_off_seq(mark)
  seq = 0;
  for e = vt_log_since(mark, 'set')
    if e{1}.target_module == 0 && e{1}.property == 6 && e{1}.value == 0
      seq = e{1}.seq;
    end
  end
end

% Calls f, then a marker set, and checks that only the marker arrived.
function quiet(f, name)
  mark = vt_log_mark();
  f();
  value = vornmex('signal', 'digin');
  vornmex('signal', 'digin', double(value));
  is_marker = @(e) strcmp(e.kind, 'set') && e.target_module == 34 && e.property == 17;
  vt_wait(@() any(cellfun(is_marker, vt_log_since(mark))), 5);
  got = vt_log_since(mark);
  vt_check(numel(got) == 1 && is_marker(got{1}), [name ' (nothing sent)']);
end

function wait_enable(value)
  vt_wait(@() vornmex('stim', 'enable') == value, 10, sprintf('"Stim Enable" reads %d', value));
end

function s = train(electrodes, tl_ms, freq)
  if nargin < 3
    freq = 100;
  end
  n = numel(electrodes);
  list = @(v) strjoin(repmat({v}, 1, n), ',');
  s = sprintf('Elect=%s;Freq=%s;TL=%s;CathDur=%s;AnodDur=%s;CathAmp=%s;AnodAmp=%s', ...
              strjoin(arrayfun(@num2str, electrodes, 'UniformOutput', false), ','), ...
              list(num2str(freq)), list(num2str(tl_ms)), list('0.2'), list('0.2'), list('10'), list('10'));
end

% Freq=100;TL=500;Dur=0.2;Amp=10: 300 samples, 50 pulses, then phase 1, gap,
% phase 2.
kTrainWords = hex2dec({'0012C032'; '0006A00A'; '0002A000'; '0006A08A'});

vt_equal(vornmex(), true, 'connected to the simulator');

%% Argument errors send nothing
vt_sends_nothing(@() vornmex('stim'), ...
                 sprintf('usage: vornmex(''stim'', stim_string)\n       vornmex(''stim'', ''enable'', [0|1])'), ...
                 'no arguments');
vt_sends_nothing(@() vornmex('stim', 5), 'stim command requires stim parameter string', ...
                 'a number instead of a string');
vt_sends_nothing(@() vornmex('stim', repmat('a', 1, 10240)), ...
                 'stim command requires stim parameter string', 'a string of 10240 characters');
vt_sends_nothing(@() vornmex('stim', 'enable', '1'), ...
                 sprintf('usage: vornmex(''stim'', stim_string)\n       vornmex(''stim'', ''enable'', [0|1])'), ...
                 'an enable value that is text');

%% "Stim Enable": read, set, and nothing sent when unchanged
vt_equal(vornmex('stim', 'enable'), 0, '"Stim Enable" is off at start');
quiet(@() vornmex('stim', 'enable', 0), 'setting off when off');
mark = vt_log_mark();
vornmex('stim', 'enable', 1);
vt_wait(@() ~isempty(enable_sets(mark)), 10);
got = vt_log_since(mark, 'set');
vt_check(numel(got) == 1 && strcmp(got{1}.bytes, enable_set_hex(1)), 'enable 1 sends the Bool set');
wait_enable(1);
quiet(@() vornmex('stim', 'enable', 7), 'setting on (7) when on');

%% Stimulation already on, nothing pending: packets, no switch-off
mark = vt_log_mark();
vornmex('stim', train(129, 100));
vt_wait(@() numel(vt_log_since(mark, 'stim')) >= 1, 10);
got = vt_log_since(mark, 'stim');
vt_check(numel(got) == 1 && got{1}.started, 'a train starts on electrode 129');
vt_check(~vt_wait(@() switch_off_seq(mark) > 0 || ~isempty(stops_since(mark)), 1.5), ...
         'no switch-off when stimulation was already on');
vt_equal(enable_sets(mark), zeros(1, 0), 'and "Stim Enable" was not touched');
vornmex('stim', 'enable', 0);
wait_enable(0);

%% Two electrodes: one packet each; switch-off after the train + 100 ms
mark = vt_log_mark();
t0 = tic;
vornmex('stim', train([129 130], 500));
vt_wait(@() numel(vt_log_since(mark, 'stim')) >= 2, 10);
got = vt_log_since(mark, 'stim');
vt_equal(cellfun(@(e) e.bytes, got, 'UniformOutput', false), ...
         {stim_hex(129, kTrainWords), stim_hex(130, kTrainWords)}, ...
         'a stim packet for 129, then for 130, word for word');
vt_check(all(cellfun(@(e) e.started, got)), 'both trains start (stimulation was switched on first)');
vt_wait(@() switch_off_seq(mark) > 0, 10, 'stimulation is switched off again');
elapsed = toc(t0);
vt_check(elapsed >= 0.6, sprintf('not before the train is over (500 + 100 ms; after %.3f s)', elapsed));
stops = stops_since(mark);
vt_equal(sort(cellfun(@(e) e.electrode, stops)), [129 130], 'each electrode gets a stop packet');
vt_check(all(cellfun(@(e) strcmp(e.bytes, stim_hex(e.electrode, hex2dec('10000000'))), stops)), ...
         'the stop packet is the word 0x10000000');
vt_check(all(cellfun(@(e) e.seq, stops) < switch_off_seq(mark)), 'stop packets come before "Stim Enable" false');
vt_equal(enable_sets(mark), [1 0], '"Stim Enable" was set on, then off');
wait_enable(0);

%% A second 'stim' 200 ms later replaces the pending switch-off
mark = vt_log_mark();
vornmex('stim', train(131, 1000));
wait_enable(1);
pause(0.2);
vornmex('stim', train(132, 300));
vt_wait(@() switch_off_seq(mark) > 0, 10, 'the second command''s switch-off comes');
vt_equal(stopped_electrodes(mark), 132, 'only the second command''s electrode is stopped');
vt_check(~vt_wait(@() any(stopped_electrodes(mark) == 131), 1.5), ...
         'the first switch-off never acts (no stop for 131 after its 1100 ms)');
vt_equal(enable_sets(mark), [1 0], 'one switch-on, one switch-off');
wait_enable(0);

%% Failures switch stimulation back off and raise the message
mark = vt_log_mark();
vt_error(@() vornmex('stim', train([129 7], 100)), 'stim string included invalid electrode(s)', ...
         'electrode 7 is no stimulation electrode');
vt_wait(@() numel(enable_sets(mark)) >= 2, 10);
vt_equal(enable_sets(mark), [1 0], '"Stim Enable" is set back off');
vt_equal(numel(vt_log_since(mark, 'stim')), 0, 'no stim packet for either electrode');

mark = vt_log_mark();
vt_error(@() vornmex('stim', 'Elect=129,130;Freq=100'), 'invalid stim command', ...
         'one value for two electrodes is no value');
vt_error(@() vornmex('stim', 'nothing here'), 'invalid stim command', 'a string without electrodes');
vt_error(@() vornmex('stim', 'Elect=129;Freq=100;TL=1000;Dur=0.2;Amp=-1'), 'invalid stim command', ...
         'a negative amplitude');
vt_error(@() vornmex('stim', 'Elect=129;Freq=0.4;TL=10000;Dur=0.2;Amp=1'), 'invalid stim command', ...
         'a period beyond 65535 samples');
vt_wait(@() numel(enable_sets(mark)) >= 8, 10);
vt_equal(enable_sets(mark), [1 0 1 0 1 0 1 0], 'each failure sets "Stim Enable" back off');
vt_equal(numel(vt_log_since(mark, 'stim')), 0, 'no stim packets');
wait_enable(0);

%% Ending the connection switches a pending stimulation off at once
mark = vt_log_mark();
vornmex('stim', train(133, 60000, 10));
wait_enable(1);
vornmex('close');
vt_wait(@() switch_off_seq(mark) > 0, 10, '''close'' switches stimulation off (not after 60 s)');
vt_equal(stopped_electrodes(mark), 133, 'and stops the electrode first');
vt_equal(vornmex(), true, 'a new connection after ''close''');
wait_enable(0);

mark = vt_log_mark();
vornmex('stim', train(134, 60000, 10));
wait_enable(1);
clear vornmex
vt_wait(@() switch_off_seq(mark) > 0, 10, 'unloading the MEX file switches stimulation off');
vt_equal(stopped_electrodes(mark), 134, 'and stops the electrode first');

vt_done();
