% 'cont' against the simulator's default instrument: values against the
% simulator's deterministic signal (16-bit, digest and float streams, front
% ends and analog inputs), the time of the first column, the latest and the
% wanted-time modes, the shapes of empty results, and the argument checks.
1;

% The simulator's sample of module m, stream s, channel c at frame time t,
% in physical units.
function v = sim_value(t, c, s, m, scale, isFloat)
  base = mod(t + 97 * c + 1009 * s + 31 * m, 4096) - 2048;
  if isFloat
    v = base / 16;
  else
    v = base * scale;
  end
end

% The row the simulator streamed for frames t0 + P, t0 + 2P, ... (n of them).
function row = sim_row(t0, n, P, c, s, m, scale, isFloat)
  t = double(t0) + (1:n) * P;
  row = sim_value(mod(t, 2^32), c, s, m, scale, isFloat);
end

% Module and channel of a 1-based electrode number of the default layout.
function [m, c] = where(e)
  if e > 10240
    m = 11;
    c = e - 10241;
  else
    m = 2 * floor((e - 1) / 32) + 1;
    c = mod(e - 1, 32);
  end
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

% data matches the simulator row by row; rows of electrodes es. A frame the
% simulator never sent (it skipped ticks) holds the gap marker (every byte
% 0xFE) and is accepted as such.
function ok = matches(data, t0, P, es, s, scale, isFloat)
  ok = true;
  n = size(data, 2);
  if isFloat
    marker = double(typecast(uint8([254 254 254 254]), 'single'));
  else
    marker = -258 * scale;
  end
  for i = 1:numel(es)
    [m, c] = where(es(i));
    expected = sim_row(t0, n, P, c, s, m, scale, isFloat);
    bad = find(data(i, :) ~= expected);
    if isempty(bad)
      continue;
    end
    frameTimes = double(t0) + bad * P;
    skipped = all(data(i, bad) == marker) && sim_skips(frameTimes(1), frameTimes(end) + 1) > 0;
    if ~skipped
      printf('      electrode %d column %d: %g, expected %g\n', es(i), bad(1), data(i, bad(1)), ...
             expected(bad(1)));
      ok = false;
    end
  end
end

usage = ['usage: vornmex(''cont'', elec [1-512], dur [ms], stream_type, ' ...
         'wanted_time [KEL state clock])'];
badStream = 'invalid stream type.  Streams may be found with ''signal'' command';

vt_equal(vornmex(), true, 'connected to the simulator');
% Two seconds of data in every ring, so that reads of up to 2 s are all real.
tStart = vornmex('time');
vt_wait(@() vornmex('time') > tStart + 2 * 30000, 20, 'the instrument clock runs');

%% Latest mode, 16-bit stream (lfp: period 30, scale 0.25)
[d, t] = vornmex('cont', [1 2 40], 100, 'lfp');
vt_equal(class(d), 'double', 'data is double');
vt_equal(size(d), [3 100], '100 ms of lfp at period 30 is 100 columns, one row per electrode');
vt_equal(class(t), 'uint32', 't is uint32');
vt_equal(size(t), [1 1], 't is 1x1');
vt_equal(mod(double(t) - 30000, 30), 0, 't lies on the stream''s frame grid');
vt_check(matches(d, t, 30, [1 2 40], 3, 0.25, false), 'lfp values are the simulator''s signal x 0.25');

%% Latest mode, 16-bit stream at the full rate (raw of module 1: period 1)
[d, t] = vornmex('cont', [1 32], 50, 'raw');
vt_equal(size(d), [2 1500], '50 ms of raw at period 1 is 1500 columns');
vt_check(matches(d, t, 1, [1 32], 1, 0.25, false), 'raw values are the simulator''s signal x 0.25');

%% Float "hi-res" stream (period 15, samples base/16)
[d, t] = vornmex('cont', [1 33 160], 200, 'hi-res');
vt_equal(size(d), [3 400], '200 ms of hi-res at period 15 is 400 columns');
vt_equal(mod(double(t) - 30000, 15), 0, 'hi-res t lies on its frame grid');
vt_check(matches(d, t, 15, [1 33 160], 2, 1, true), 'hi-res values are the simulator''s float signal');

%% Digest stream registered under its label, and an analog input
[d, t] = vornmex('cont', 5, 1000, 'rms');
vt_equal(size(d), [1 200], '1 s of rms at period 150 is 200 columns');
vt_check(matches(d, t, 150, 5, 4, 0.25, false), 'rms (a digest stream) values');
[d, t] = vornmex('cont', [10241 10256], 100, 'lfp');
vt_equal(size(d), [2 100], 'analog lfp: 100 columns');
vt_check(matches(d, t, 30, [10241 10256], 2, 2^-12, false), 'analog lfp values x 2^-12');

%% A column vector of electrodes counts as one electrode (its first)
[d, t] = vornmex('cont', [3; 4; 5], 10, 'lfp');
vt_equal(size(d), [1 10], 'a column vector gives one row');
vt_check(matches(d, t, 30, 3, 3, 0.25, false), 'the row is the first element''s');

%% Durations: fractions truncate, nothing gives n x 0, too much gives the ring
vt_equal(size(vornmex('cont', [1 2], 10.99, 'lfp')), [2 10], '10.99 ms gives 10 frames at period 30');
vt_equal(size(vornmex('cont', [1 2], 0, 'lfp')), [2 0], 'dur 0 gives 2x0');
vt_equal(size(vornmex('cont', [1 2], -5, 'lfp')), [2 0], 'a negative dur gives 2x0');
vt_equal(size(vornmex('cont', [1 2], NaN, 'lfp')), [2 0], 'dur NaN gives 2x0');
vt_equal(size(vornmex('cont', 1, 0.5, 'lfp')), [1 0], 'less than one frame gives 1x0');
vt_equal(size(vornmex('cont', 1, 10000, 'lfp')), [1 5000], '10 s of lfp is the ring: 5000 frames');
vt_equal(size(vornmex('cont', 1, Inf, 'lfp')), [1 5000], 'an infinite dur is the ring');
vt_equal(size(vornmex('cont', 1, 1e300, 'hi-res')), [1 10000], 'a huge dur is the ring of hi-res');

%% Wanted-time mode inside the ring
[d0, t0] = vornmex('cont', 1, 1000, 'lfp');
wanted = double(t0) + 30;   % about a second old: more than 100 frames follow it
[d, t] = vornmex('cont', [1 2], 100, 'lfp', wanted);
vt_equal(t, uint32(wanted), 'wanted-time mode reports wanted_time');
vt_equal(size(d), [2 100], 'dur limits the columns when enough frames follow');
vt_check(matches(d, t, 30, [1 2], 3, 0.25, false), 'the columns follow wanted_time');
vt_equal(d(1, 1:10), d0(1, 2:11), 'the same frames as a latest read');
[d, t] = vornmex('cont', 1, 100, 'lfp', wanted + 0.9);
vt_equal(t, uint32(wanted), 'a fractional wanted_time truncates');
[d, t] = vornmex('cont', 1, 100, 'lfp', 0);
vt_equal(size(d), [1 100], 'wanted_time 0 is the latest mode');
vt_check(t ~= uint32(0), 'wanted_time 0 reports the latest data''s time');
[d, t] = vornmex('cont', 1, 100, 'lfp', wanted, 'sixth');
vt_check(t ~= uint32(wanted) && isequal(size(d), [1 100]), ...
         'with six inputs the fifth is not read (latest mode)');

% Frames up to the newest: min(count, age) columns, the last one recent.
[d, t] = vornmex('cont', 1, 10000, 'lfp', wanted);
vt_check(size(d, 2) >= 30 && size(d, 2) < 5000, 'a long dur reads up to the newest frame');
vt_check(matches(d, t, 30, 1, 3, 0.25, false), 'values up to the newest frame');

%% Wanted-time mode outside the ring
now = double(vornmex('time'));
[d, t] = vornmex('cont', [1 2], 100, 'lfp', now + 30000 * 60);
vt_equal(size(d), [2 0], 'a future wanted_time gives 2x0');
vt_equal(t, uint32(now + 30000 * 60), 'and reports wanted_time');
vt_wait(@() vornmex('time') > 30000 + 150000 + 30000, 20, 'the clock passes 6 s');
[d, t] = vornmex('cont', [1 2], 100, 'lfp', 1);
vt_equal(size(d), [2 0], 'a wanted_time older than 5 s gives 2x0');
vt_equal(t, uint32(1), 'and reports wanted_time');

%% Electrodes that give fewer values than the last one
% raw is on for front end 1 only: electrode 33's raw ring has no frame, so
% from a wanted time it gives nothing.
[dr, tr] = vornmex('cont', 1, 20, 'raw');
wanted = double(tr) + 1;
[d, t] = vornmex('cont', [33 1], 10, 'raw', wanted);
vt_equal(size(d), [2 300], 'the last electrode decides the column count');
vt_check(all(isnan(d(1, :))), 'a row without values is NaN, not staging memory');
vt_check(matches(d(2, :), t, 1, 1, 1, 0.25, false), 'the other row is intact');
[d, t] = vornmex('cont', [1:8, 33:40, 2], 10, 'raw', wanted);
vt_equal(size(d), [17 300], 'many rows: the last electrode decides the column count');
vt_check(all(all(isnan(d(9:16, :)))) && ~any(any(isnan(d([1:8, 17], :)))), ...
         'only the rows without values are NaN');
vt_check(matches(d([1:8, 17], :), t, 1, [1:8, 2], 1, 0.25, false), 'the other rows are intact');
[d, t] = vornmex('cont', [1 33], 10, 'raw', wanted);
vt_equal(size(d), [2 0], 'no values from the last electrode: no columns');
vt_equal(t, uint32(wanted), 'and t is still wanted_time');

%% Errors, in the order of the checks
vt_error(@() vornmex('cont'), usage, 'no arguments');
vt_error(@() vornmex('cont', 1, 100), usage, 'three inputs');
vt_error(@() vornmex('cont', 600, 100, 'lfp'), 'electrode 600 not found', 'an unknown electrode');
vt_error(@() vornmex('cont', [1 2 200 600], 100, 'nosuch'), 'electrode 200 not found', ...
         'the first unknown electrode is named, before the stream is checked');
vt_error(@() vornmex('cont', 0, 100, 'lfp'), 'electrode 0 not found', 'electrode 0');
vt_error(@() vornmex('cont', 600.7, 100, 'lfp'), 'electrode 600 not found', ...
         'the number shown is truncated');
vt_error(@() vornmex('cont', NaN, 100, 'lfp'), 'electrode NaN not found', 'a NaN electrode');
vt_error(@() vornmex('cont', 1, 100, 5), 'invalid stream string provided for stream_type', ...
         'a stream type that is not text');
vt_error(@() vornmex('cont', 1, 100, repmat('a', 1, 128)), ...
         'invalid stream string provided for stream_type', 'a stream type of 128 characters');
vt_error(@() vornmex('cont', 1, 100, 'nosuch'), badStream, 'an unknown stream');
vt_error(@() vornmex('cont', 1, 100, 'diag'), badStream, 'a hidden stream (flags 0x08)');
vt_error(@() vornmex('cont', 10241, 100, 'temp'), badStream, 'a hidden stream (flags 0x04)');
vt_error(@() vornmex('cont', [1 10241], 100, 'hi-res'), 'invalid stream type for elec: 10241', ...
         'a stream the first electrode has and a later one lacks');
vt_error(@() vornmex('cont', [1 2 10241 10242], 100, 'rms'), 'invalid stream type for elec: 10241', ...
         'the first electrode lacking the stream is named');
% Arguments of the wrong kind are refused, not read as something else.
vt_error(@() vornmex('cont', 'ab', 100, 'lfp'), usage, 'electrodes given as text');
vt_error(@() vornmex('cont', [], 100, 'lfp'), usage, 'no electrodes');
vt_error(@() vornmex('cont', zeros(0, 3), 100, 'lfp'), usage, 'an empty 0x3 electrode array');
vt_error(@() vornmex('cont', 1, '100', 'lfp'), usage, 'a duration given as text');
vt_error(@() vornmex('cont', 1, [], 'lfp'), usage, 'an empty duration');
vt_error(@() vornmex('cont', 1, 100, 'lfp', -30), usage, 'a negative wanted_time');
vt_error(@() vornmex('cont', 1, 100, 'lfp', 2^32), usage, 'a wanted_time beyond 32 bits');
vt_error(@() vornmex('cont', 1, 100, 'lfp', NaN), usage, 'a NaN wanted_time');

%% One output only, and the connection still works after the errors
d = vornmex('cont', 1, 10, 'lfp');
vt_equal(size(d), [1 10], 'one output');
vt_equal(vornmex(), true, 'still connected');

vt_done();
