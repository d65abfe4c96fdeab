% vornsim: --front-ends 2 --stim-front-end 2 --spike-rate 400
% 'spike' and 'stimdata' against the simulator: counts, times and scaled
% 1x52 waveforms, draining (each segment once, nothing lost between calls),
% more than 1024 segments between calls, stimulation waveforms by flag and by
% command, and the argument checks. Two front ends: electrodes 1..32 (module
% 1, spikes on module 2) and 33..64 (the stim front end, module 3, spikes on
% module 4); 400 spikes per second per channel.
1;

Q = floor(30000 / 400);   % ticks between two spikes of a channel

% The simulator's spike waveform of channel c in physical units (scale 0.25).
function w = sim_spike(c)
  k = 0:51;
  T = zeros(1, 52);
  T(k >= 10 & k <= 14) = -60 * (k(k >= 10 & k <= 14) - 9);
  T(k >= 15 & k <= 21) = -300 + 70 * (k(k >= 15 & k <= 21) - 14);
  T(k >= 22 & k <= 40) = 190 - 10 * (k(k >= 22 & k <= 40) - 21);
  w = (T + c) * 0.25;
end

% Spike times of electrode e (1-based, 1..64) lie on clock_start + phi + k Q.
function ok = on_grid(times, e, Q)
  m = 2 * floor((e - 1) / 32) + 2;   % the companion module
  c = mod(e - 1, 32);
  phi = mod(1237 * m + 937 * c, Q);
  ok = all(mod(times - 30000 - phi, Q) == 0);
end

% Ticks the simulator skipped (it fell behind and sent nothing for them)
% within [t1, t2).
function s = sim_skips(t1, t2)
  s = 0;
  for entry = vt_log_entries('clock_skip')
    x = entry{1};
    s = s + max(0, min(x.tick, t2) - max(x.tick - x.ticks, t1));
  end
end

% times (after prev, when given) follow one another by Q; a longer step is
% accepted only where the simulator skipped ticks.
function ok = consecutive(times, Q)
  d = diff(times);
  ok = all(d > 0) && all(mod(d, Q) == 0);
  for k = find(d ~= Q)
    ok = ok && sim_skips(times(k) + 1, times(k + 1)) > 0;
  end
end

% Simulator ticks sent since t0 (the clock's advance less what it skipped).
function d = sim_time_since(t0)
  now = double(vornmex('time'));
  d = now - t0 - sim_skips(t0, now);
end

% next is the first segment after last once n more were drained in between.
function ok = next_after(last, n, next, Q)
  ok = next == last + (n + 1) * Q || ...
       (next > last + (n + 1) * Q && mod(next - last, Q) == 0 && sim_skips(last + 1, next) > 0);
end

function ok = all_waveforms(wfs, expected)
  ok = iscell(wfs) && size(wfs, 1) == 1;
  for j = 1:numel(wfs)
    ok = ok && isequal(wfs{j}, expected);
  end
end

spikeUsage = 'usage: [count, times, wfs] = vornmex(''spike'', elec [1-512][, want_stim=0])';
stimUsage = 'usage: [count, times, wfs] = vornmex(''stimdata'', elec [1-512])';

vt_equal(vornmex(), true, 'connected to the simulator');
vornmex('spike', 1:64);   % empty every buffer

%% Counts, times and waveforms
t0 = double(vornmex('time'));
vt_wait(@() sim_time_since(t0) > 0.2 * 30000, 10);
[count, times, wfs] = vornmex('spike', [1 2 40]);
vt_equal(class(count), 'double', 'count is double');
vt_equal(size(count), [3 1], 'count is n x 1');
vt_check(iscell(times) && isequal(size(times), [3 1]), 'times is an n x 1 cell');
vt_check(iscell(wfs) && isequal(size(wfs), [3 1]), 'wfs is an n x 1 cell');
vt_check(all(count >= 60) && all(count < 1024), '0.2 s give dozens of segments');
vt_equal(cellfun(@numel, times), count, 'times holds count times per electrode');
vt_check(all(cellfun(@(c) size(c, 1) == 1 && isa(c, 'double'), times)), 'times are double rows');
vt_equal(cellfun(@numel, wfs), count, 'wfs holds count waveforms per electrode');
vt_check(consecutive(times{1}, Q), 'times are consecutive, oldest first');
vt_check(on_grid(times{1}, 1, Q) && on_grid(times{2}, 2, Q) && on_grid(times{3}, 40, Q), ...
         'times are the simulator''s spike times');
vt_equal(size(wfs{1}{1}), [1 52], 'a waveform is 1 x 52');
vt_check(all_waveforms(wfs{1}, sim_spike(0)), 'electrode 1''s waveforms, scaled by 0.25');
vt_check(all_waveforms(wfs{2}, sim_spike(1)), 'electrode 2''s waveforms');
vt_check(all_waveforms(wfs{3}, sim_spike(7)), 'electrode 40''s waveforms (channel 7)');

%% A second call returns only newer segments, and none is lost in between
last = times{1}(end);
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.05 * 30000, 10);
[count2, times2] = vornmex('spike', 1);
vt_check(count2 > 0 && next_after(last, 0, times2{1}(1), Q), ...
         'the second call starts with the segment after the first call''s last');

%% A call with only the count drains as well
last = times2{1}(end);
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.05 * 30000, 10);
drained = vornmex('spike', 1);
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.01 * 30000, 10);
[count3, times3] = vornmex('spike', 1);
vt_check(drained > 0 && count3 > 0 && next_after(last, drained, times3{1}(1), Q), ...
         'a call with one output drains what it counts');

%% More than 1024 segments between calls
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.05 * 30000, 10);
[~, times] = vornmex('spike', [1 33]);
last = [times{1}(end) times{2}(end)];
t0 = vornmex('time');
% 1100 spike periods of the simulator's clock, not counting ticks it skipped
vt_wait(@() sim_time_since(t0) > 1100 * Q, 30);
[count, times, wfs] = vornmex('spike', [1 33]);
vt_check(all(count > 1024), 'count goes past 1024');
vt_equal(cellfun(@numel, times), [1024; 1024], 'times hold the newest 1024');
vt_equal(cellfun(@numel, wfs), [1024; 1024], 'wfs hold the newest 1024');
vt_check(next_after(last(1), count(1) - 1, times{1}(end), Q), 'count counts every arrival');
vt_check(consecutive(times{2}, Q), 'the 1024 kept are consecutive');
vt_check(all_waveforms(wfs{2}, sim_spike(0)), 'and their waveforms are whole');

%% The same electrode twice in one call
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.05 * 30000, 10);
[count, times] = vornmex('spike', [5 5]);
vt_check(count(1) > 0 && count(2) <= 1, 'the second entry finds the buffer drained');
vt_check(count(2) == 0 || next_after(times{1}(end), 0, times{2}(1), Q), ...
         '... or only what came in between');

%% Electrodes without segments
[count, times, wfs] = vornmex('spike', [600 10241 NaN 1e12]);
vt_equal(count, zeros(4, 1), 'unknown electrodes and ones without spk streams count 0');
vt_equal(times{1}, zeros(1, 0), 'their times are 1 x 0');
vt_check(iscell(wfs{2}) && isequal(size(wfs{2}), [1 0]), 'their waveforms are a 1 x 0 cell');
[count, times, wfs] = vornmex('spike', []);
vt_check(isequal(size(count), [0 1]) && isequal(size(times), [0 1]) && isequal(size(wfs), [0 1]), ...
         'no electrodes give 0 x 1 results');
[count, times] = vornmex('spike', [1; 2; 3]);
vt_equal(size(count), [1 1], 'a column vector counts as one electrode');

%% Stimulation waveforms: the flag and 'stimdata'
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.05 * 30000, 10);
vornmex('spike', 33);
vt_equal(vornmex('spike', 33, 1), 0, 'want_stim reads the stim buffer, empty without stimulation');
vt_equal(vornmex('stimdata', 33, 0), 0, '''stimdata'' ignores a third input');
t0 = vornmex('time');
vt_wait(@() vornmex('time') > t0 + 0.01 * 30000, 10);
vt_check(vornmex('spike', 33, 0) > 0, 'want_stim 0 reads spikes');

% A train of 20 pulses, 300 ticks apart, on electrode 33.
stim = 'Elect=33;Freq=100;TL=200;CathDur=0.2;AnodDur=0.2;CathAmp=10;AnodAmp=10';
pulse = [-10 * ones(1, 6), zeros(1, 2), 10 * ones(1, 6), zeros(1, 38)];

function [n, times, wfs] = collect(args, want, timeout)
  n = 0; times = []; wfs = {};
  t0 = tic;
  while n < want && toc(t0) < timeout
    [c, t, w] = vornmex(args{:});
    n = n + c;
    times = [times, t{1}];
    wfs = [wfs, w{1}];
    pause(0.02);
  end
end

function ok = start_train(stim)
  ok = true;
  try
    vornmex('stim', stim);
  catch err
    vt_record(false, 'a stimulation train starts', err.message);
    ok = false;
  end
end

% All 20 pulses, unless the simulator skipped some of them.
function ok = whole_train(n, times, tStart)
  ok = n == 20 && isequal(diff(times), 300 * ones(1, 19));
  if ~ok && n < 20 && n > 0
    ok = all(mod(diff(times), 300) == 0) && sim_skips(tStart, tStart + 300 * 20 + 30000) > 0;
  end
end

tStart = vornmex('time');
if start_train(stim)
  [n, times, wfs] = collect({'stimdata', 33}, 20, 10);
  vt_check(whole_train(n, times, tStart), ...
           '''stimdata'' returns the train''s 20 segments, one per pulse period');
  vt_check(all_waveforms(wfs, pulse), 'the pulse shape with scale 1');
  vt_wait(@() vornmex('stimdata', 33) == 0, 5);   % the train is over
end
tStart = vornmex('time');
if start_train(stim)
  [n, times, wfs] = collect({'spike', 33, NaN}, 20, 10);
  vt_check(whole_train(n, times, tStart), 'want_stim NaN (not 0) selects stimulation waveforms');
  vt_check(all_waveforms(wfs, pulse), 'the same pulses');
end

%% Usage
vt_error(@() vornmex('spike'), spikeUsage, '''spike'' alone');
vt_error(@() vornmex('spike', 1, 0, 3), spikeUsage, '''spike'' with four inputs');
vt_error(@() vornmex('stimdata'), stimUsage, '''stimdata'' alone');
vt_error(@() vornmex('stimdata', 1, 2, 3), stimUsage, '''stimdata'' with four inputs');
vt_error(@() vornmex('spike', 'ab'), spikeUsage, 'electrodes given as text');
vt_error(@() vornmex('spike', 1, 'x'), spikeUsage, 'a want_stim given as text');
vt_error(@() vornmex('stimdata', struct('a', 1)), stimUsage, 'electrodes given as a struct');

vt_done();
