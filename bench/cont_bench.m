% vornsim: --profile full
% Benchmark of 'cont' against the simulator's full instrument (16 front ends,
% every continuous stream on, about 570 000 packets/s). Run it with
% bench/run_cont_bench.sh, which runs it in a test network of its own.
%
% 1. Speed: 'cont' of 512 electrodes x 5000 ms of "raw" (period 1: 512 x
%    150000 doubles, 614 MB) against a plain copy of a matrix of the same
%    size in the same Octave session.
% 2. Loss under load: for 30 s, 'cont' of 512 x 5000 ms in a loop while the
%    simulator streams; every returned frame is compared with the
%    simulator's deterministic signal, and the kernel's drop counter of the
%    receive socket (port 2046) is read before and after. Two controls
%    run first: 20 s without reads, and 30 s of plain copies of the same size.
% Prints figures; asserts nothing about time.
1;

% Ticks the simulator skipped (it fell behind real time and never sent
% them) within [t1, t2).
function s = sim_skips(t1, t2)
  s = 0;
  for entry = vt_log_entries('clock_skip')
    x = entry{1};
    s = s + max(0, min(x.tick, t2) - max(x.tick - x.ticks, t1));
  end
end

% The kernel's drop count of the UDP socket bound to port 2046 in this
% network namespace (the drops column of /proc/net/udp), or NaN.
function n = udp_drops()
  n = NaN;
  lines = strsplit(fileread('/proc/net/udp'), "\n");
  for i = 2:numel(lines)
    f = strsplit(strtrim(lines{i}));
    if numel(f) >= 13 && numel(f{2}) >= 4 && strcmpi(f{2}(end-3:end), '07FE')
      n = str2double(f{end});
    end
  end
end

% Frames of a 512-row "raw" read (front ends 1..16, period 1, scale 0.25)
% that differ from the simulator's signal, counted per stream: a frame that
% is wrong in any of a front end's 32 rows counts once for that front end.
% Each stream's rows are its own newest frames, so a stream's window may
% start a little after or before t (the time of the last row's window); the
% offset is found from the stream's first value and returned in lag.
function [bad, lag] = bad_frames(d, t0)
  n = size(d, 2);
  bad = 0;
  lag = zeros(1, 16);
  c = (0:31)';
  for f = 0:15
    m = 2 * f + 1;
    rows = f * 32 + (1:32);
    first = mod(double(t0) + 1 + 1009 + 31 * m, 4096);
    delta = mod(d(rows(1), 1) / 0.25 + 2048 - first, 4096);
    if delta >= 2048
      delta = delta - 4096;
    end
    lag(f + 1) = delta;
    expected = (mod(double(t0) + delta + (1:n) + 97 * c + 1009 + 31 * m, 4096) - 2048) * 0.25;
    bad = bad + sum(any(d(rows, :) ~= expected, 1));
  end
end

elec = 1:512;
printf('connecting ...\n');
vornmex();
% Fill every ring (5 s) before measuring.
tStart = double(vornmex('time'));
vt_wait(@() double(vornmex('time')) > tStart + 6 * 30000, 60);

%% 1. Speed
[d, t] = vornmex('cont', elec, 5000, 'raw');
printf('cont 512 x 5000 ms of raw: %d x %d doubles, %.0f MB\n', size(d, 1), size(d, 2), ...
       numel(d) * 8 / 1e6);
x = d + 0;   % the copy's source: a separate matrix of the same size
bytes = numel(x) * 8;
clear d;
reps = 5;
tc = zeros(1, reps);
tp = zeros(1, reps);
for k = 1:reps
  t0 = tic;
  [d, t] = vornmex('cont', elec, 5000, 'raw');
  tc(k) = toc(t0);
  clear d;
  t0 = tic;
  y = x;
  y(1) = -y(1);   % copy-on-write: a fresh matrix and a copy of every byte
  tp(k) = toc(t0);
  clear y;
end
clear x;
printf('cont:       median %.3f s (min %.3f, max %.3f), %.2f GB/s of result\n', median(tc), ...
       min(tc), max(tc), bytes / median(tc) / 1e9);
printf('plain copy: median %.3f s (min %.3f, max %.3f), %.2f GB/s\n', median(tp), min(tp), ...
       max(tp), bytes / median(tp) / 1e9);
printf('ratio cont / copy: %.2f\n', median(tc) / median(tp));

t0 = tic;
[d, t] = vornmex('cont', elec, 5000, 'hi-res');
th = toc(t0);
printf('cont 512 x 5000 ms of hi-res (%d x %d floats): %.3f s\n', size(d, 1), size(d, 2), th);
clear d;

%% 2. Loss: first 20 s without reads (what the machine loses anyway), then
% 30 s of 'cont' 512 x 5000 ms of raw in a loop. The phase lines on standard
% error let run_cont_bench.sh count the gap warnings of each phase.
printf('\nidle for 20 s (no reads) ...\n');
fputs(stderr, "bench-phase: idle\n");
idleDrops0 = udp_drops();
idleT0 = double(vornmex('time'));
pause(20);
idleT1 = double(vornmex('time'));
idleDrops1 = udp_drops();
printf('kernel drops on port 2046 while idle: %d\n', idleDrops1 - idleDrops0);
printf('simulator skipped %d ticks while idle\n', sim_skips(idleT0, idleT1));

% The same machine load without the extension's reads: plain copies of a
% matrix of the same size for 30 s. What is lost here is lost to the
% machine's two cores, not to the cache lock.
printf('\ncontrol: plain copies of 614 MB in a loop for 30 s (no reads) ...\n');
fputs(stderr, "bench-phase: copy\n");
x = zeros(512, 150000);
x(:) = 1;
copyT0 = double(vornmex('time'));
copyDrops0 = udp_drops();
copies = 0;
loop = tic;
while toc(loop) < 30
  y = x;
  y(1) = 2;
  copies = copies + 1;
  clear y;
end
copyDrops1 = udp_drops();
copyT1 = double(vornmex('time'));
clear x;
printf('copies: %d\n', copies);
printf('kernel drops on port 2046 during the copies: %d\n', copyDrops1 - copyDrops0);
printf('simulator skipped %d ticks during the copies\n', sim_skips(copyT0, copyT1));

printf('\nloss under load: cont 512 x 5000 ms of raw in a loop for 30 s ...\n');
fputs(stderr, "bench-phase: load\n");
loadT0 = double(vornmex('time'));
drops0 = udp_drops();
calls = 0;
frames = 0;
bad = 0;
skipped = 0;
maxLag = 0;
callTimes = [];
loop = tic;
while toc(loop) < 30
  t0 = tic;
  [d, t] = vornmex('cont', elec, 5000, 'raw');
  callTimes(end + 1) = toc(t0); %#ok<SAGROW>
  calls = calls + 1;
  n = size(d, 2);
  frames = frames + 16 * n;
  [b, lag] = bad_frames(d, t);
  bad = bad + b;
  maxLag = max([maxLag, abs(lag)]);
  skipped = skipped + 16 * sim_skips(double(t) - 3000, double(t) + n + 3000);
  clear d;
end
drops1 = udp_drops();
loadT1 = double(vornmex('time'));
fputs(stderr, "bench-phase: end\n");
printf('calls: %d (each %.3f s median, %.3f s max)\n', calls, median(callTimes), max(callTimes));
printf('frames returned (16 streams x columns): %d\n', frames);
printf('frames not equal to the simulator''s signal: %d\n', bad);
printf('  of which the simulator never sent (it fell behind and skipped ticks): %d\n', skipped);
printf('frames missed by the extension: %d\n', max(0, bad - skipped));
printf('largest offset between a stream''s window and t: %d ticks\n', maxLag);
printf('kernel drops on port 2046 during the loop: %d (before %d, after %d)\n', ...
       drops1 - drops0, drops0, drops1);
printf('simulator skipped %d ticks during the loop\n', sim_skips(loadT0, loadT1));
vornmex('close');
