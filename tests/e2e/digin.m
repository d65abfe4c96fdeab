% vornsim: --event-rate 0
% 'digin' against the simulator with its periodic events off: every event is
% the loop-back of a digital output set ('digout'), so counts and contents
% are known. Fields and their int16 class (0xFFFF reads -1), draining, the
% empty result's shape, and more than 1024 events between calls.
1;

fields = {'reason'; 'sma1'; 'sma2'; 'sma3'; 'sma4'; 'parallel'};

% Number of digital output sets the simulator has applied so far.
function n = digouts_applied()
  [~, out] = system(sprintf('grep -c ''"kind":"digout"'' %s', getenv('VORN_SIM_LOG')));
  n = str2double(out);
end

% Waits until the simulator applied n digital output sets and the loop-back
% event of the last one has come through: the instrument's time packets are
% sent after it, in order, so a time 3 ms past that event's tick is enough.
function ok = wait_for_events(n)
  ok = vt_wait(@() digouts_applied() >= n, 20);
  if ok
    [~, line] = system(sprintf('grep ''"kind":"digout"'' %s | tail -n 1', getenv('VORN_SIM_LOG')));
    tick = jsondecode(line).tick;
    ok = vt_wait(@() vornmex('time') > tick + 90, 20);
  end
end

function ok = is_int16_scalars(events, names)
  ok = true;
  for j = 1:numel(events)
    for k = 1:numel(names)
      v = events(j).(names{k});
      ok = ok && isa(v, 'int16') && isequal(size(v), [1 1]);
    end
  end
end

vt_equal(vornmex(), true, 'connected to the simulator');
vornmex('digin');   % whatever came before

%% Nothing arrived: count 0, 1x0 times, 1x0 structure with the six fields
[count, times, events] = vornmex('digin');
vt_equal(count, 0, 'count is the double 0');
vt_equal(times, zeros(1, 0), 'times is a 1x0 double');
vt_check(isstruct(events) && isequal(size(events), [1 0]), 'events is a 1x0 structure');
vt_equal(fieldnames(events), fields, 'with the six fields, in order');

%% One event: fields, classes and the 16-bit words as int16
applied = digouts_applied();
tBefore = vornmex('time');
vornmex('digout', [1 2 3 4 5], [1 0 1 1 -1]);   % parallel word 0xFFFF
wait_for_events(applied + 1);
[count, times, events] = vornmex('digin');
vt_equal(count, 1, 'one event');
vt_check(isa(times, 'double') && isequal(size(times), [1 1]) && times >= tBefore, ...
         'its time, a double, from after the set');
vt_equal(fieldnames(events), fields, 'the event has the six fields, in order');
vt_check(is_int16_scalars(events, fields), 'every field is an int16 scalar');
vt_equal(events.reason, int16(2), 'reason (loop-back) is 2');
vt_equal([events.sma1 events.sma2 events.sma3 events.sma4], int16([1 0 1 1]), ...
         'sma1..sma4 are the words at 16, 18, 20 and 22');
vt_equal(events.parallel, int16(-1), 'the parallel word 0xFFFF reads -1');

%% A second call returns nothing new
[count, times, events] = vornmex('digin');
vt_equal(count, 0, 'the second call counts 0');
vt_equal(times, zeros(1, 0), 'and its times are 1x0');
vt_check(isequal(size(events), [1 0]) && isequal(fieldnames(events), fields), ...
         'and its events are 1x0 with the six fields');

%% Several events, oldest first
applied = digouts_applied();
words = [1 2 32767 32768 65534];
for w = words
  vornmex('digout', 5, w);
end
wait_for_events(applied + numel(words));
[count, times, events] = vornmex('digin');
vt_equal(count, 5, 'five events');
vt_equal([events.parallel], int16([1 2 32767 -32768 -2]), ...
         'in the order sent; words above 32767 read as negative numbers');
vt_check(all(diff(times) >= 0), 'times are oldest first');
vt_equal(vornmex('digin'), 0, 'drained');

%% More than 1024 events between calls: the newest 1024
applied = digouts_applied();
total = 1100;
for k = 1:total
  vornmex('digout', 5, k);
  if mod(k, 100) == 0
    % in steps, so that the simulator's receive buffer never overflows
    vt_wait(@() digouts_applied() >= applied + k, 20);
  end
end
wait_for_events(applied + total);
[count, times, events] = vornmex('digin');
vt_equal(count, 1024, 'count is at most 1024');
vt_equal(size(times), [1 1024], '1024 times');
vt_equal(size(events), [1 1024], '1024 events');
vt_equal([events.parallel], int16(total - 1023:total), 'the newest 1024, oldest first');

%% Further inputs are ignored, one output is fine
vt_equal(vornmex('digin', 1, 'x'), 0, 'further inputs are ignored');

vt_done();
