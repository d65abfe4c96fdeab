% vornsim: --front-ends 2 --stim-front-end 2 --spike-rate 400
% 'spike' and 'stimdata': counts, times, scaled 1x52 waveforms, draining,
% more than 1024 segments between calls, stimulation waveforms, usage.
% Electrodes 1..32 and 33..64 (the stim front end); 400 spikes/s per channel.
1;

Q = floor(30000 / 400);   % ticks between two spikes of a channel

% The simulator's spike waveform of channel c in physical units (scale 0.25).
function w = sim_spike(c)
  k = 0:51;
  w = (-60 * (k - 9) .* (k >= 10 & k <= 14) + (-300 + 70 * (k - 14)) .* (k >= 15 & k <= 21) ...
       + (190 - 10 * (k - 21)) .* (k >= 22 & k <= 40) + c) * 0.25;
end

% times of electrode e (1..64) are consecutive spikes of the simulator:
% clock_start + phi + k Q, a longer step only where it skipped ticks.
function ok = sim_times(times, e, Q)
  m = 2 * floor((e - 1) / 32) + 2;   % the companion module
  phi = mod(1237 * m + 937 * mod(e - 1, 32), Q);
  d = diff(times);
  ok = all(mod(times - 30000 - phi, Q) == 0) && all(d > 0);
  for k = find(d ~= Q)
    ok = ok && vt_sim_skips(times(k) + 1, times(k + 1)) > 0;
  end
end

% next is the first segment after last once n more were drained in between.
function ok = next_after(last, n, next, Q)
  ok = next == last + (n + 1) * Q || ...
       (next > last + (n + 1) * Q && mod(next - last, Q) == 0 && vt_sim_skips(last + 1, next) > 0);
end

function ok = all_waveforms(wfs, expected)
  ok = iscell(wfs) && rows(wfs) == 1 && all(cellfun(@(w) isequal(w, expected), wfs));
end

% Waits until the simulator has sent n more ticks (not counting skipped ones).
function wait_ticks(n)
  t0 = double(vornmex('time'));
  vt_wait(@() double(vornmex('time')) - t0 - vt_sim_skips(t0, double(vornmex('time'))) > n, 30);
end

vornmex('spike', 1:64);   % empty every buffer

%% Counts, times and waveforms
wait_ticks(0.2 * 30000);
es = [1 2 40];
[count, times, wfs] = vornmex('spike', es);
vt_check(isa(count, 'double') && isequal(size(count), [3 1]) && iscell(times) && isequal(size(times), [3 1]) ...
         && iscell(wfs) && isequal(size(wfs), [3 1]), 'count, times and wfs are n x 1 (double, cell, cell)');
vt_check(all(count >= 60) && all(count < 1024), '0.2 s give dozens of segments');
vt_check(isequal(cellfun(@numel, times), count, cellfun(@numel, wfs)) ...
         && all(cellfun(@(c) rows(c) == 1 && isa(c, 'double'), times)), 'count times and waveforms per electrode');
for i = 1:3
  vt_check(sim_times(times{i}, es(i), Q), sprintf('electrode %d: the simulator''s spike times, oldest first', es(i)));
  vt_check(all_waveforms(wfs{i}, sim_spike(mod(es(i) - 1, 32))), sprintf('electrode %d: its 1x52 waveforms x 0.25', es(i)));
end

%% A second call returns only newer segments, none lost in between; a call
%% with only the count drains as well
last = times{1}(end);
wait_ticks(0.05 * 30000);
[count2, times2] = vornmex('spike', 1);
vt_check(count2 > 0 && next_after(last, 0, times2{1}(1), Q), ...
         'the second call starts with the segment after the first call''s last');
wait_ticks(0.05 * 30000);
drained = vornmex('spike', 1);
wait_ticks(0.01 * 30000);
[count3, times3] = vornmex('spike', 1);
vt_check(drained > 0 && count3 > 0 && next_after(times2{1}(end), drained, times3{1}(1), Q), ...
         'a call with one output drains what it counts');

%% More than 1024 segments between calls: the newest 1024, count counts all
wait_ticks(0.05 * 30000);
[~, times] = vornmex('spike', [1 33]);
last = times{1}(end);
wait_ticks(1100 * Q);
[count, times, wfs] = vornmex('spike', [1 33]);
vt_check(all(count > 1024), 'count goes past 1024');
vt_equal([cellfun(@numel, times), cellfun(@numel, wfs)], 1024 * ones(2), 'times and wfs hold the newest 1024');
vt_check(next_after(last, count(1) - 1, times{1}(end), Q), 'count counts every arrival');
vt_check(sim_times(times{2}, 33, Q) && all_waveforms(wfs{2}, sim_spike(0)), 'the 1024 kept are consecutive and whole');

%% The same electrode twice in one call
wait_ticks(0.05 * 30000);
[count, times] = vornmex('spike', [5 5]);
vt_check(count(1) > 0 && (count(2) == 0 || (count(2) == 1 && next_after(times{1}(end), 0, times{2}(1), Q))), ...
         'the second entry finds the buffer drained (or only what came in between)');

%% Electrodes without segments
[count, times, wfs] = vornmex('spike', [600 10241 NaN 1e12]);
vt_check(isequal(count, zeros(4, 1)) && isequal(times{1}, zeros(1, 0)) && iscell(wfs{2}) ...
         && isequal(size(wfs{2}), [1 0]), 'unknown electrodes and ones without spike streams: 0, 1x0, a 1x0 cell');

%% Stimulation waveforms: want_stim and 'stimdata'
wait_ticks(0.05 * 30000);
vornmex('spike', 33);
vt_equal(vornmex('spike', 33, 1), 0, 'want_stim reads the stim buffer, empty without stimulation');
wait_ticks(0.01 * 30000);
vt_check(vornmex('spike', 33, 0) > 0, 'want_stim 0 reads spikes');
% A train of 20 pulses, 300 ticks apart, on electrode 33: all of them, unless
% the simulator skipped some.
pulse = [-10 * ones(1, 6), zeros(1, 2), 10 * ones(1, 6), zeros(1, 38)];
calls = {{'stimdata', 33}, '''stimdata'''; {'spike', 33, NaN}, 'want_stim NaN (not 0)'};
for i = 1:rows(calls)
  tStart = vornmex('time');
  vornmex('stim', 'Elect=33;Freq=100;TL=200;CathDur=0.2;AnodDur=0.2;CathAmp=10;AnodAmp=10');
  [n, times, wfs] = deal(0, [], {});
  t0 = tic;
  while n < 20 && toc(t0) < 10
    [c, t, w] = vornmex(calls{i, 1}{:});
    [n, times, wfs] = deal(n + c, [times, t{1}], [wfs, w{1}]);
    pause(0.02);
  end
  whole = (n == 20 && isequal(diff(times), 300 * ones(1, 19))) || (n > 0 && n < 20 ...
          && all(mod(diff(times), 300) == 0) && vt_sim_skips(tStart, tStart + 300 * 20 + 30000) > 0);
  vt_check(whole && all_waveforms(wfs, pulse), ...
           [calls{i, 2} ': the train''s 20 segments, one per pulse period, with the pulse shape (scale 1)']);
  vt_wait(@() vornmex('stimdata', 33) == 0, 5);   % the train is over
end

%% Usage
spikeUsage = 'usage: [count, times, wfs] = vornmex(''spike'', elec [1-512][, want_stim=0])';
stimUsage = 'usage: [count, times, wfs] = vornmex(''stimdata'', elec [1-512])';
vt_errors({
  @() vornmex('spike'), spikeUsage, '''spike'' alone'
  @() vornmex('spike', 1, 0, 3), spikeUsage, '''spike'' with four inputs'
  @() vornmex('stimdata'), stimUsage, '''stimdata'' alone'
  @() vornmex('stimdata', 1, 2, 3), stimUsage, '''stimdata'' with four inputs'
  @() vornmex('spike', 'ab'), spikeUsage, 'electrodes given as text'
  @() vornmex('spike', 1, 'x'), spikeUsage, 'a want_stim given as text'
  @() vornmex('stimdata', struct('a', 1)), stimUsage, 'electrodes given as a struct'});
vt_done();
