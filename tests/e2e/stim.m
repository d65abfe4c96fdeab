% 'stim' and 'stimseq' against the simulator: the packets of stim strings and
% of sequences, the switch-off after the longest train (stop packets, then
% "Stim Enable" false), replacing a pending switch-off, failures that switch
% stimulation back off, "Stim Enable", input errors that send nothing, and
% the switch-off at once when the connection ends. Default layout: "Stim
% Enable" is property 6 of module 0 (off at start); electrodes 129..160
% stimulate through properties 302.. of module 9.
1;

% The stim packet of electrode (129..160) carrying words, as hex.
function hex = stim_hex(electrode, words)
  n = typecast(uint16(2 * numel(words)), 'uint8');
  hex = [sprintf('%02x000000000000000109%02x0100000000', 7 + numel(words), electrode - 129 + 46) ...
         vt_hex([n n zeros(1, 8)]) vt_hex(typecast(uint32(words(:)'), 'uint8'))];
end

% What the simulator received after mark: the values "Stim Enable" was set
% to, the last set to false (off, [] if none), the stop packets (stops, and
% their electrodes) and the other stim packets.
function s = stim_log(mark)
  en = vt_log_since(mark, 'set');
  en = en(cellfun(@(e) e.target_module == 0 && e.property == 6, en));
  s.enables = cellfun(@(e) e.value, en);
  offs = en(s.enables == 0);
  s.off = [offs{max(end, 1):end}];
  stims = vt_log_since(mark, 'stim');
  stop = cellfun(@(e) e.repeats == 0 && e.action == 1 && e.period == 0, stims);
  [s.stops, s.packets] = deal(stims(stop), stims(~stop));
  s.stopped = cellfun(@(e) e.electrode, s.stops);
end

% The destination address a log line's datagram was sent to ('' if not logged).
function to = dest(e)
  to = '';
  if isfield(e, 'to')
    to = e.to;
  end
end

function wait_off(mark, name)
  vt_wait(@() ~isempty(stim_log(mark).off), 10, name);
end

% Waits until the cache has taken in all the simulator sent back so far: a
% time packet stamped after the newest packet the simulator logged.
function settle()
  newest = vt_log_since(vt_log_mark() - 1);
  tick = newest{end}.tick;
  vt_wait(@() vornmex('time') > tick + 30, 10, 'the instrument time passes the last logged packet');
end

function wait_enable(value)
  vt_wait(@() vornmex('stim', 'enable') == value, 10, sprintf('"Stim Enable" reads %d', value));
end

% A train of tl_ms on each electrode (pulses of 0.2 ms and 10 at freq Hz).
function s = train(electrodes, tl_ms, freq)
  each = @(v) regexprep(num2str(v + zeros(size(electrodes))), '\s+', ',');
  s = sprintf('Elect=%s;Freq=%s;TL=%s;CathDur=%s;AnodDur=%s;CathAmp=%s;AnodAmp=%s', each(electrodes), ...
              each(freq), each(tl_ms), each(0.2), each(0.2), each(10), each(10));
end

vt_equal(vornmex('stim', 'enable'), 0, '"Stim Enable" is off at start');

%% "Stim Enable": set, and nothing sent when unchanged
mark = vt_log_mark();
vornmex('stim', 'enable', 0);
vornmex('stim', 'enable', 1);
wait_enable(1);
vornmex('stim', 'enable', 7);
[got, hexes] = vt_sent_since(mark);
vt_equal(hexes, {'0500000001000000010006000103000001000000'}, ...
         'one Bool set for 0 -> 1; nothing for 0 while off or 7 while on');
vt_equal(strjoin(cellfun(@dest, got, 'UniformOutput', false), ' '), '192.168.42.255', ...
         'the "Stim Enable" set is a broadcast');

%% Stimulation already on, nothing pending: the train starts, nothing is switched off
mark = vt_log_mark();
vornmex('stim', train(129, 100, 100));
t = vornmex('time');
vt_check(vt_log_since(mark, 'stim', 1){1}.started, 'a train starts on electrode 129');
vt_wait(@() vornmex('time') > t + 0.6 * 30000, 10);   % past the 200 ms a switch-off would take
s = stim_log(mark);
vt_check(isempty(s.enables) && isempty(s.stops), 'no switch-off; "Stim Enable" not touched');
vornmex('stim', 'enable', 0);
wait_enable(0);

%% A second 'stim' 200 ms later replaces the pending switch-off
mark = vt_log_mark();
vornmex('stim', train(131, 1000, 100));
t = vornmex('time');
wait_enable(1);
vt_wait(@() vornmex('time') > t + 0.2 * 30000, 10);
vornmex('stim', train(132, 300, 100));
wait_off(mark, 'the second command''s switch-off comes');
vt_wait(@() vornmex('time') > t + 1.5 * 30000, 10);   % past the first command's 1100 ms
s = stim_log(mark);
vt_equal(s.stopped, 132, 'only the second command''s electrode is stopped: the first switch-off never acts');
vt_equal(s.enables, [1 0], 'one switch-on, one switch-off');
wait_enable(0);

%% The packets of a stim string and of the 'stimseq' examples; after the
%% longest train + 100 ms each electrode gets its stop packet, then "Stim
%% Enable" false
% Freq=100;TL=500;Dur=0.2;Amp=10: 300 samples, 50 pulses, then phase 1, gap, phase 2.
words = [0x0012C032 0x0006A00A 0x0002A000 0x0006A08A];
segment = struct('length', 6, 'ampl', 10, 'pol', 0, 'enable', 1, 'ampSelect', 1, 'fs', 0, 'delay', 0);
one = struct('elec', 129, 'period', 300, 'repeats', 10, 'seq', segment);
% The packets of a stim string travel together, in one datagram sent to the
% instrument itself: the first example checks that too.
examples = {   % name, call, packets, switch-off delay (s)
  'a stim string for 129 and 130', {'stim', train([129 130], 500, 100)}, {stim_hex(129, words), stim_hex(130, words)}, 0.6
  'one segment', {'stimseq', one}, {stim_hex(129, [0x0012C00A 0x0006A00A])}, 0.2
  'action ''trigger''', {'stimseq', setfield(one, 'action', 'trigger')}, {stim_hex(129, [0x3012C00A 0x0006A00A])}, 0.2
  'action ''allcyc'' without ''seq''', {'stimseq', struct('elec', 129, 'period', 300, 'repeats', 10, 'action', 'allcyc')}, ...
    {stim_hex(129, 0x2012C00A)}, 0.2
  'three electrodes in ascending order', {'stimseq', struct('elec', {140, 131, 135}, 'period', 300, 'repeats', 1)}, ...
    {stim_hex(131, 0x0012C001), stim_hex(135, 0x0012C001), stim_hex(140, 0x0012C001)}, 0.11
  'the longest of 3000 and 60000 samples', {'stimseq', struct('elec', {129, 130}, 'period', {300, 6000}, 'repeats', 10)}, ...
    {stim_hex(129, 0x0012C00A), stim_hex(130, 0x0177000A)}, 2.1
  '247 segments, the most one packet holds', {'stimseq', struct('elec', 129, 'period', 3000, 'repeats', 1, ...
    'seq', {repmat(segment, 1, 247)})}, {stim_hex(129, [0x00BB8001 repmat(0x0006A00A, 1, 247)])}, 0.2};
for i = 1:rows(examples)
  [name, call, hexes, delay] = examples{i, :};
  mark = vt_log_mark();
  vornmex(call{:});
  wait_off(mark, [name ': switched off afterwards']);
  s = stim_log(mark);
  vt_equal(cellfun(@(e) e.bytes, s.packets, 'UniformOutput', false), hexes, [name ': the packets']);
  vt_check(all(cellfun(@(e) e.started, s.packets)) && isequal(s.enables, [1 0]) ...
           && s.off.tick - s.packets{1}.tick > (delay - 0.02) * 30000, ...
           sprintf('%s: "Stim Enable" on, the trains start, "Stim Enable" off not before %g ms', name, 1000 * delay));
  stops = cellfun(@(e) stim_hex(e.electrode, 0x10000000), s.packets, 'UniformOutput', false);
  vt_check(isequal(sort(cellfun(@(e) e.bytes, s.stops, 'UniformOutput', false)), sort(stops)) ...
           && all(cellfun(@(e) e.seq < s.off.seq, s.stops)), [name ': a stop packet for each electrode, before the off']);
  if i == 1
    in_first = vt_log_entries();   % every line of the first stim packet's datagram
    in_first = in_first(cellfun(@(e) isfield(e, 'dgram') && e.dgram == s.packets{1}.dgram, in_first));
    vt_equal(cellfun(@(e) e.seq, in_first), cellfun(@(e) e.seq, s.packets), ...
             [name ': one datagram holding the two stim packets and nothing else']);
    vt_equal(strjoin(cellfun(@dest, s.packets, 'UniformOutput', false), ' '), '192.168.42.1 192.168.42.1', ...
             [name ': that datagram went to the instrument, not the broadcast']);
  end
  wait_enable(0);
end

%% Failures switch stimulation back off and raise the message
mark = vt_log_mark();
failures = {
  @() vornmex('stim', train([129 7], 100, 100)), 'stim string included invalid electrode(s)', 'electrode 7 is no stimulation electrode'
  @() vornmex('stimseq', struct('elec', {129, 7}, 'period', 300, 'repeats', 1)), 'stim string included invalid electrode(s)', '''stimseq'' to electrode 7'
  @() vornmex('stim', 'Elect=129,130;Freq=100'), 'invalid stim command', 'one value for two electrodes is no value'
  @() vornmex('stim', 'nothing here'), 'invalid stim command', 'a string without electrodes'
  @() vornmex('stim', 'Elect=129;Freq=100;TL=1000;Dur=0.2;Amp=-1'), 'invalid stim command', 'a negative amplitude'
  @() vornmex('stim', 'Elect=129;Freq=0.4;TL=10000;Dur=0.2;Amp=1'), 'invalid stim command', 'a period beyond 65535 samples'};
for i = 1:rows(failures)
  vt_error(failures{i, :});
  settle();   % the next call must see the switch-off this one sent
end
vt_sent_since(mark);
s = stim_log(mark);
vt_equal(s.enables, repmat([1 0], 1, 6), 'each failure sets "Stim Enable" on, then back off');
vt_check(isempty(s.packets) && isempty(s.stops), 'no stim packet for any electrode');
wait_enable(0);

%% Input errors send nothing
usage = sprintf('usage: vornmex(''stim'', stim_string)\n       vornmex(''stim'', ''enable'', [0|1])');
ok = struct('elec', 129, 'period', 300, 'repeats', 1);
bad_action = ['invalid action string.  Must be one of ''immed'', ''curcyc'', ''allcyc'', ' ...
              '''trigger'', or ''at-time'''];
vt_refused('''stim'' and ''stimseq'' input errors', {
  @() vornmex('stim'), usage, 'no arguments'
  @() vornmex('stim', 5), 'stim command requires stim parameter string', 'a number instead of a string'
  @() vornmex('stim', repmat('a', 1, 10240)), 'stim command requires stim parameter string', 'a string of 10240 characters'
  @() vornmex('stim', 'enable', '1'), usage, 'an enable value that is text'
  @() vornmex('stimseq'), 'usage: vornmex(''stimseq'', stim_cmd', 'no struct'
  @() vornmex('stimseq', 5), 'usage: vornmex(''stimseq'', stim_cmd', 'a number instead of a struct'
  @() vornmex('stimseq', struct([])), 'usage: vornmex(''stimseq'', stim_cmd', 'an empty struct array'
  @() vornmex('stimseq', setfield(ok, 'action', 'Immed')), bad_action, 'action ''Immed'' (capital I)'
  @() vornmex('stimseq', setfield(ok, 'action', 5)), bad_action, 'an action that is no string'
  @() vornmex('stimseq', rmfield(ok, 'repeats')), 'bad repeats', 'no repeats'
  @() vornmex('stimseq', rmfield(ok, 'elec')), 'bad elec', 'no elec'
  @() vornmex('stimseq', rmfield(ok, 'period')), 'bad period', 'no period'
  @() vornmex('stimseq', struct('elec', {129, 130}, 'period', 300, 'repeats', 1, 'seq', {segment, rmfield(segment, 'delay')})), 'delay', 'a segment without delay (in the second sequence)'
  @() vornmex('stimseq', setfield(ok, 'seq', rmfield(segment, 'ampl'))), 'bad ampl', 'a segment without ampl'
  @() vornmex('stimseq', setfield(ok, 'period', 70000)), 'bad period: must be 0 to 65535 samples', 'a period of 70000 samples would wrap'
  @() vornmex('stimseq', setfield(ok, 'repeats', 4096)), 'bad repeats: must be 0 to 4095', 'repeats of 4096 would wrap to 0'
  @() vornmex('stimseq', setfield(ok, 'elec', 0)), 'bad elec: must be an electrode number', 'electrode 0'
  @() vornmex('stimseq', setfield(ok, 'elec', NaN)), 'bad elec: must be an electrode number', 'electrode NaN'
  @() vornmex('stimseq', setfield(ok, 'elec', '129')), 'bad elec: must be an electrode number', 'an electrode given as text'
  @() vornmex('stimseq', setfield(ok, 'seq', setfield(segment, 'ampl', 128))), 'bad ampl: must be 0 to 127', 'amplitude 128 would wrap to 0'
  @() vornmex('stimseq', setfield(ok, 'seq', setfield(segment, 'ampl', -1))), 'bad ampl: must be 0 to 127', 'amplitude -1 would wrap to 127'
  @() vornmex('stimseq', setfield(ok, 'seq', setfield(segment, 'enable', NaN))), 'bad enable: must be a number', 'enable NaN'
  @() vornmex('stimseq', setfield(ok, 'seq', repmat(segment, 1, 248))), 'too many segments for electrode 129: 248 (at most 247)', '248 segments'
  @() vornmex('stimseq', setfield(ok, 'seq', 5)), 'bad seq: must be a struct array of segments', 'a seq that is no struct'});

%% Ending the connection ('close', or unloading the MEX file) switches a
%% pending stimulation off at once (not after its 60 s)
for how = {'close', 'clear'}
  mark = vt_log_mark();
  vornmex('stim', train(133, 60000, 10));
  wait_enable(1);
  if strcmp(how{1}, 'close')
    vornmex('close');
  else
    clear vornmex
  end
  wait_off(mark, sprintf('''%s'' switches stimulation off', how{1}));
  vt_equal(stim_log(mark).stopped, 133, sprintf('''%s'' stops the electrode first', how{1}));
  wait_enable(0);   % and a new connection starts
end
vt_done();
