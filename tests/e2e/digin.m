% vornsim: --event-rate 0
% 'digin' with the simulator's periodic events off: every event is the
% loop-back of a 'digout', so counts and contents are known.
1;

% Sends the 'digout' calls of args, then waits until the simulator applied
% them and the loop-back event of the last one has come through (the
% instrument's time packets follow it in order: a time 3 ms past its tick).
function send_digouts(args)
  applied = @() str2double(vt_output(2, @system, ['grep -c ''"kind":"digout"'' ' getenv('VORN_SIM_LOG')]));
  n = applied() + numel(args);
  for k = 1:numel(args)
    vornmex('digout', args{k}{:});
    if mod(k, 100) == 0   % in steps, so that the simulator's receive buffer never overflows
      vt_wait(@() applied() >= n - numel(args) + k, 20);
    end
  end
  vt_wait(@() applied() >= n, 20);
  [~, line] = system(['grep ''"kind":"digout"'' ' getenv('VORN_SIM_LOG') ' | tail -n 1']);
  tick = jsondecode(line).tick;
  vt_wait(@() vornmex('time') > tick + 90, 20);
end

fields = {'reason'; 'sma1'; 'sma2'; 'sma3'; 'sma4'; 'parallel'};
vornmex('digin');   % whatever came before

%% One event: the six fields, each an int16 scalar; 0xFFFF reads -1
tBefore = vornmex('time');
send_digouts({{[1 2 3 4 5], [1 0 1 1 -1]}});
[count, times, events] = vornmex('digin');
vt_equal(count, 1, 'one event');
vt_check(isa(times, 'double') && isscalar(times) && times >= tBefore, 'its time, a double, from after the set');
vt_equal(fieldnames(events), fields, 'the event has the six fields, in order');
vt_check(all(cellfun(@(v) isa(v, 'int16') && isscalar(v), struct2cell(events))), 'every field is an int16 scalar');
vt_equal(double([struct2cell(events){:}]), [2 1 0 1 1 -1], ...
         'reason 2 (loop-back), sma1..sma4 the words at 16..22, parallel 0xFFFF reads -1');

%% A second call returns nothing new, with the empty results' shapes
[count, times, events] = vornmex('digin', 1, 'x');
vt_check(count == 0 && isequal(times, zeros(1, 0)) && isstruct(events) && isequal(size(events), [1 0]), ...
         'the second call: count 0, 1x0 times, a 1x0 structure (further inputs ignored)');
vt_equal(fieldnames(events), fields, 'the empty structure has the six fields');

%% More than 1024 events between calls: the newest 1024, oldest first
total = 1100;
send_digouts(arrayfun(@(k) {5, k}, 1:total, 'UniformOutput', false));
[count, times, events] = vornmex('digin');
vt_equal(count, 1024, 'count is at most 1024');
vt_equal(size(times), [1 1024], '1024 times');
vt_check(all(diff(times) >= 0), 'times are oldest first');
vt_equal([events.parallel], int16(total - 1023:total), 'the newest 1024 events, oldest first');
vt_done();
