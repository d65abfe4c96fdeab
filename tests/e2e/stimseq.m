% 'stimseq' against the simulator: the packets of user-defined sequences
% (header word with action, period and repeats, then the segment words), the
% electrode order, the switch-off after the longest sequence, and every
% input error, which must send nothing.
% Default layout: "Stim Enable" is property 6 of module 0 (off at start);
% electrodes 129..160 stimulate through properties 302.. of module 9.
1;

function hex = stim_hex(electrode, words)
  n = numel(words);
  property = 302 + electrode - 129;
  hex = sprintf('%02x00000000000000%02x%02x%02x%02x00000000%02x00%02x000000000000000000', ...
                7 + n, 1, 9, mod(property, 256), floor(property / 256), 2 * n, 2 * n);
  for w = words(:)'
    hex = [hex sprintf('%02x', typecast(uint32(w), 'uint8'))]; %#ok<AGROW>
  end
end

function values = enable_sets(mark)
  values = zeros(1, 0);
  for e = vt_log_since(mark, 'set')
    if e{1}.target_module == 0 && e{1}.property == 6
      values(end + 1) = e{1}.value; %#ok<AGROW>
    end
  end
end

function seq = switch_off_seq(mark)
  seq = 0;
  for e = vt_log_since(mark, 'set')
    if e{1}.target_module == 0 && e{1}.property == 6 && e{1}.value == 0
      seq = e{1}.seq;
    end
  end
end

function electrodes = stopped_electrodes(mark)
  electrodes = zeros(1, 0);
  for e = vt_log_since(mark, 'stim')
    if e{1}.repeats == 0 && e{1}.action == 1 && e{1}.period == 0
      electrodes(end + 1) = e{1}.electrode; %#ok<AGROW>
    end
  end
end

% The sequences' own packets (not the stop packets) after mark.
function entries = sequence_packets(mark)
  entries = {};
  for e = vt_log_since(mark, 'stim')
    if ~(e{1}.repeats == 0 && e{1}.action == 1 && e{1}.period == 0)
      entries{end + 1} = e{1}; %#ok<AGROW>
    end
  end
end

function wait_enable(value)
  vt_wait(@() vornmex('stim', 'enable') == value, 10, sprintf('"Stim Enable" reads %d', value));
end

% Sends s, waits for the switch-off, returns the sequence packets and the
% seconds from the call to the switch-off.
function [packets, elapsed, mark] = send_and_wait(s, name)
  mark = vt_log_mark();
  t0 = tic;
  vornmex('stimseq', s);
  vt_wait(@() switch_off_seq(mark) > 0, 10, [name ': switched off afterwards']);
  elapsed = toc(t0);
  packets = sequence_packets(mark);
  wait_enable(0);
end

kSegment = struct('length', 6, 'ampl', 10, 'pol', 0, 'enable', 1, 'ampSelect', 1, 'fs', 0, ...
                  'delay', 0);

vt_equal(vornmex(), true, 'connected to the simulator');
vt_equal(vornmex('stim', 'enable'), 0, '"Stim Enable" is off at start');

%% One sequence: 36-byte packet, then the switch-off after 3000 samples + 100 ms
[packets, elapsed, mark] = send_and_wait(struct('elec', 129, 'period', 300, 'repeats', 10, ...
                                                'seq', kSegment), 'one segment');
vt_equal(cellfun(@(e) e.bytes, packets, 'UniformOutput', false), ...
         {stim_hex(129, hex2dec({'0012C00A'; '0006A00A'}))}, ...
         'header 0x0012C00A and segment 0x0006A00A in a 36-byte packet');
vt_check(elapsed >= 0.2, sprintf('switch-off not before 200 ms (after %.3f s)', elapsed));
vt_equal(stopped_electrodes(mark), 129, 'the electrode is stopped');
vt_equal(enable_sets(mark), [1 0], '"Stim Enable" set on, then off');

%% Actions
packets = send_and_wait(struct('elec', 129, 'period', 300, 'repeats', 10, 'action', 'trigger', ...
                               'seq', kSegment), 'trigger');
vt_equal(cellfun(@(e) e.header, packets), hex2dec('3012C00A'), 'action ''trigger'': 0x3012C00A');
packets = send_and_wait(struct('elec', 129, 'period', 300, 'repeats', 10, 'action', 'allcyc'), ...
                        'allcyc');
vt_equal(cellfun(@(e) e.bytes, packets, 'UniformOutput', false), ...
         {stim_hex(129, hex2dec('2012C00A'))}, 'without ''seq'' the header word is all');

%% Ascending electrode order; the event waits for the longest sequence
s = struct('elec', {140, 131, 135}, 'period', 300, 'repeats', 1);
packets = send_and_wait(s, 'three electrodes');
vt_equal(cellfun(@(e) e.electrode, packets), [131 135 140], 'sent in the order 131, 135, 140');

s = struct('elec', {129, 130}, 'period', {300, 6000}, 'repeats', 10);
[packets, elapsed, mark] = send_and_wait(s, '3000 and 60000 samples');
vt_check(elapsed >= 2.1, sprintf('switch-off not before 2100 ms (after %.3f s)', elapsed));
vt_equal(sort(stopped_electrodes(mark)), [129 130], 'both electrodes are stopped');

%% The largest sequence that fits one packet: 247 segments, size byte 255
packets = send_and_wait(struct('elec', 129, 'period', 3000, 'repeats', 1, ...
                               'seq', {repmat(kSegment, 1, 247)}), '247 segments');
vt_check(numel(packets) == 1 && numel(packets{1}.bytes) == 2 * 1020 ...
         && strcmp(packets{1}.bytes(1:2), 'ff') && numel(packets{1}.segments) == 247, ...
         '247 segments go out in one 1020-byte packet');

%% A stimulation electrode that is not one: stimulation goes back off
mark = vt_log_mark();
vt_error(@() vornmex('stimseq', struct('elec', {129, 7}, 'period', 300, 'repeats', 1)), ...
         'stim string included invalid electrode(s)', 'electrode 7 is no stimulation electrode');
vt_wait(@() numel(enable_sets(mark)) >= 2, 10);
vt_equal(enable_sets(mark), [1 0], '"Stim Enable" is set back off');
vt_equal(numel(vt_log_since(mark, 'stim')), 0, 'no stim packet at all');
wait_enable(0);

%% Input errors send nothing
usage = 'usage: vornmex(''stimseq'', stim_cmd';
bad_action = ['invalid action string.  Must be one of ''immed'', ''curcyc'', ''allcyc'', ' ...
              '''trigger'', or ''at-time'''];
ok = struct('elec', 129, 'period', 300, 'repeats', 1);
vt_sends_nothing(@() vornmex('stimseq'), usage, 'no struct');
vt_sends_nothing(@() vornmex('stimseq', 5), usage, 'a number instead of a struct');
vt_sends_nothing(@() vornmex('stimseq', struct([])), usage, 'an empty struct array');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'action', 'Immed')), bad_action, ...
                 'action ''Immed'' (capital I)');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'action', 5)), bad_action, ...
                 'an action that is no string');
vt_sends_nothing(@() vornmex('stimseq', struct('elec', 129, 'period', 300)), 'bad repeats', ...
                 'no repeats');
vt_sends_nothing(@() vornmex('stimseq', struct('repeats', 1, 'period', 300)), 'bad elec', 'no elec');
vt_sends_nothing(@() vornmex('stimseq', struct('repeats', 1, 'elec', 129)), 'bad period', 'no period');
vt_sends_nothing(@() vornmex('stimseq', struct('elec', {129, 130}, 'period', 300, 'repeats', ...
                                               1, 'seq', {kSegment, rmfield(kSegment, 'delay')})), ...
                 'delay', 'a segment without delay (in the second sequence)');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'seq', rmfield(kSegment, 'ampl'))), 'bad ampl', ...
                 'a segment without ampl');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'period', 70000)), ...
                 'bad period: must be 0 to 65535 samples', 'a period of 70000 samples would wrap');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'repeats', 4096)), ...
                 'bad repeats: must be 0 to 4095', 'repeats of 4096 would wrap to 0');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'elec', 0)), ...
                 'bad elec: must be an electrode number', 'electrode 0');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'elec', NaN)), ...
                 'bad elec: must be an electrode number', 'electrode NaN');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'elec', '129')), ...
                 'bad elec: must be an electrode number', 'an electrode given as text');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'seq', setfield(kSegment, 'ampl', 128))), ...
                 'bad ampl: must be 0 to 127', 'amplitude 128 would wrap to 0');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'seq', setfield(kSegment, 'ampl', -1))), ...
                 'bad ampl: must be 0 to 127', 'amplitude -1 would wrap to 127');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'seq', setfield(kSegment, 'enable', NaN))), ...
                 'bad enable: must be a number', 'enable NaN');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'seq', repmat(kSegment, 1, 248))), ...
                 'too many segments for electrode 129: 248 (at most 247)', '248 segments');
vt_sends_nothing(@() vornmex('stimseq', setfield(ok, 'seq', 5)), ...
                 'bad seq: must be a struct array of segments', 'a seq that is no struct');
vt_equal(vornmex('stim', 'enable'), 0, '"Stim Enable" is still off');

vt_done();
