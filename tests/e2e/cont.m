% 'cont' against the simulator's default instrument: values against its
% deterministic signal (16-bit, digest and float streams, front ends and
% analog inputs), the time of the first column, the latest and the
% wanted-time modes, the shapes of empty results, and the argument checks.
1;

% data matches, row by row, the signal the simulator streamed for electrodes
% es (stream s, scale; hi-res: float samples / 16) at frames t0 + P,
% t0 + 2P, ... A frame the simulator never sent (it skipped ticks) holds the
% gap marker (every byte 0xFE) and is accepted as such.
function ok = matches(data, t0, P, es, s, scale, isFloat)
  ok = true;
  t = mod(double(t0) + (1:size(data, 2)) * P, 2^32);
  marker = [-258 * scale, double(typecast(uint8([254 254 254 254]), 'single'))](1 + isFloat);
  for i = 1:numel(es)
    [m, c] = deal(2 * floor((es(i) - 1) / 32) + 1, mod(es(i) - 1, 32));
    if es(i) > 10240
      [m, c] = deal(11, es(i) - 10241);
    end
    expected = (mod(t + 97 * c + 1009 * s + 31 * m, 4096) - 2048) * scale;
    bad = find(data(i, :) ~= expected);
    if ~isempty(bad) && ~(all(data(i, bad) == marker) && vt_sim_skips(t(bad(1)), t(bad(end)) + 1) > 0)
      printf('      electrode %d column %d: %g, expected %g\n', es(i), bad(1), data(i, bad(1)), expected(bad(1)));
      ok = false;
    end
  end
end

% Two seconds of data in every ring, so that reads of up to 2 s are all real.
tStart = vornmex('time');
vt_wait(@() vornmex('time') > tStart + 2 * 30000, 20, 'the instrument clock runs');

%% Latest mode: {elec, rows' electrodes, dur, stream, period, stream index, scale, float}
cases = {
  [1 2 40], [1 2 40], 100, 'lfp', 30, 3, 0.25, false
  [1 33 160], [1 33 160], 200, 'hi-res', 15, 2, 1 / 16, true
  5, 5, 1000, 'rms', 150, 4, 0.25, false
  [10241 10256], [10241 10256], 100, 'lfp', 30, 2, 2^-12, false
  [3; 4; 5], 3, 10, 'lfp', 30, 3, 0.25, false};
for i = 1:rows(cases)
  [es, rows_, dur, stream, P] = cases{i, 1:5};
  [d, t] = vornmex('cont', es, dur, stream);
  name = sprintf('%s of electrodes %s', stream, mat2str(es));
  vt_equal(size(d), [numel(rows_), dur * 30 / P], [name ': one row per electrode, dur x 30 / period columns']);
  vt_check(isa(d, 'double') && isa(t, 'uint32') && isscalar(t) && mod(double(t) - 30000, P) == 0 ...
           && matches(d, t, P, rows_, cases{i, 6:8}), [name ': the simulator''s signal, scaled; t on the frame grid']);
end

%% Durations: fractions truncate, nothing gives n x 0, too much gives the ring
cases = {10.99, 'lfp', [2 10]; 0, 'lfp', [2 0]; -5, 'lfp', [2 0]; NaN, 'lfp', [2 0]; 0.5, 'lfp', [2 0]
         Inf, 'lfp', [2 5000]; 1e300, 'hi-res', [2 10000]};
for i = 1:rows(cases)
  vt_equal(size(vornmex('cont', [1 2], cases{i, 1:2})), cases{i, 3}, sprintf('dur %g of %s', cases{i, 1:2}));
end

%% Wanted-time mode inside the ring
[d0, t0] = vornmex('cont', 1, 1000, 'lfp');
wanted = double(t0) + 30;   % about a second old: more than 100 frames follow it
[d, t] = vornmex('cont', [1 2], 100, 'lfp', wanted);
vt_equal(t, uint32(wanted), 'wanted-time mode reports wanted_time');
vt_equal(size(d), [2 100], 'dur limits the columns when enough frames follow');
vt_check(matches(d, t, 30, [1 2], 3, 0.25, false) && isequal(d(1, 1:10), d0(1, 2:11)), ...
         'the columns follow wanted_time: the same frames as a latest read');
vt_equal(vt_output(2, @vornmex, 'cont', 1, 100, 'lfp', wanted + 0.9), uint32(wanted), ...
         'a fractional wanted_time truncates');
[d, t] = vornmex('cont', 1, 100, 'lfp', 0);
vt_check(isequal(size(d), [1 100]) && t ~= 0, 'wanted_time 0 is the latest mode');
[d, t] = vornmex('cont', 1, 10000, 'lfp', wanted);
vt_check(size(d, 2) >= 30 && size(d, 2) < 5000 && matches(d, t, 30, 1, 3, 0.25, false), ...
         'a long dur reads the values up to the newest frame');

%% Wanted-time mode outside the ring: no columns, t is wanted_time
future = double(vornmex('time')) + 30000 * 60;
[d, t] = vornmex('cont', [1 2], 100, 'lfp', future);
vt_equal({size(d), t}, {[2 0], uint32(future)}, 'a future wanted_time');
vt_wait(@() vornmex('time') > 30000 + 150000 + 30000, 20, 'the clock passes 6 s');
[d, t] = vornmex('cont', [1 2], 100, 'lfp', 1);
vt_equal({size(d), t}, {[2 0], uint32(1)}, 'a wanted_time older than 5 s');

%% Electrodes that give fewer values than the last one: raw is on for front
%% end 1 only, so electrodes 33.. have no raw frame from a wanted time
wanted = double(vt_output(2, @vornmex, 'cont', 1, 20, 'raw')) + 1;
[d, t] = vornmex('cont', [1:8, 33:40, 2], 10, 'raw', wanted);
vt_equal(size(d), [17 300], 'the last electrode decides the column count');
vt_check(all(all(isnan(d(9:16, :)))) && ~any(any(isnan(d([1:8, 17], :)))), ...
         'only the rows without values are NaN (not staging memory)');
vt_check(matches(d([1:8, 17], :), t, 1, [1:8, 2], 1, 0.25, false), 'the other rows are intact');
[d, t] = vornmex('cont', [1 33], 10, 'raw', wanted);
vt_equal({size(d), t}, {[2 0], uint32(wanted)}, 'no values from the last electrode: no columns');

%% Errors, in the order of the checks
usage = ['usage: vornmex(''cont'', elec [1-512], dur [ms], stream_type, ' ...
         'wanted_time [KEL state clock])'];
badStream = 'invalid stream type.  Streams may be found with ''signal'' command';
vt_errors({
  @() vornmex('cont'), usage, 'no arguments'
  @() vornmex('cont', 1, 100), usage, 'three inputs'
  @() vornmex('cont', 600, 100, 'lfp'), 'electrode 600 not found', 'an unknown electrode'
  @() vornmex('cont', [1 2 200 600], 100, 'nosuch'), 'electrode 200 not found', 'the first unknown electrode, before the stream'
  @() vornmex('cont', 600.7, 100, 'lfp'), 'electrode 600 not found', 'the number shown is truncated'
  @() vornmex('cont', NaN, 100, 'lfp'), 'electrode NaN not found', 'a NaN electrode'
  @() vornmex('cont', 1, 100, 5), 'invalid stream string provided for stream_type', 'a stream type that is not text'
  @() vornmex('cont', 1, 100, repmat('a', 1, 128)), 'invalid stream string provided for stream_type', 'a stream type of 128 characters'
  @() vornmex('cont', 1, 100, 'nosuch'), badStream, 'an unknown stream'
  @() vornmex('cont', 1, 100, 'diag'), badStream, 'a hidden stream (flags 0x08)'
  @() vornmex('cont', 10241, 100, 'temp'), badStream, 'a hidden stream (flags 0x04)'
  @() vornmex('cont', [1 2 10241], 100, 'hi-res'), 'invalid stream type for elec: 10241', 'a stream a later electrode lacks'
  @() vornmex('cont', 'ab', 100, 'lfp'), usage, 'electrodes given as text'
  @() vornmex('cont', zeros(0, 3), 100, 'lfp'), usage, 'no electrodes'
  @() vornmex('cont', 1, '100', 'lfp'), usage, 'a duration given as text'
  @() vornmex('cont', 1, [], 'lfp'), usage, 'an empty duration'
  @() vornmex('cont', 1, 100, 'lfp', -30), usage, 'a negative wanted_time'
  @() vornmex('cont', 1, 100, 'lfp', 2^32), usage, 'a wanted_time beyond 32 bits'
  @() vornmex('cont', 1, 100, 'lfp', NaN), usage, 'a NaN wanted_time'});
vt_done();
