% A short session against the simulator: connect, read the instrument's
% time, list the commands. scripts/run-demo.sh runs it in the test network.
printf('connecting to the instrument ...\n');
t0 = tic;
ready = vornmex();
printf('connected: ready = %d after %.3f s\n', ready, toc(t0));

t = vornmex('time');
printf('instrument time: %u ticks (%.3f s of its 30 kHz clock)\n', t, t / 30000);
t2 = t;
t1 = tic;
while t2 == t && toc(t1) < 2
  pause(0.01);
  t2 = vornmex('time');
end
printf('a moment later:  %u ticks\n', t2);

printf('\nvornmex(''help''):\n');
vornmex('help');

%% Electrodes, continuous data and spikes, with pictures
% The pictures go to $VORN_DEMO_DIR, else <repo>/out/demo.
printf('\nelectrodes:\n');
e = vornmex('elec', 'all');
frontEnd = e(e <= 512);
analog = e(e > 10240);
printf('  %d front-end electrodes (%d..%d), %d analog inputs (%d..%d)\n', numel(frontEnd), ...
       min(frontEnd), max(frontEnd), numel(analog), min(analog), max(analog));
stimElec = vornmex('elec', 'stim');
printf('  stim front end: electrodes %d..%d\n', min(stimElec), max(stimElec));

chans = frontEnd(1:min(4, end));
spikeSeconds = 3;
vornmex('spike', chans);   % start from now
tSpike = vornmex('time');
while vornmex('time') < tSpike + spikeSeconds * 30000
  pause(0.05);
end
[count, times, wfs] = vornmex('spike', chans);
printf('\nspikes over %d s of instrument time:\n', spikeSeconds);
for i = 1:numel(chans)
  if isempty(times{i})
    printf('  electrode %3d: no spikes\n', chans(i));
  else
    printf('  electrode %3d: %4d spikes (%.1f/s), first at t = %u\n', chans(i), count(i), ...
           count(i) / spikeSeconds, times{i}(1));
  end
end

[data, t0] = vornmex('cont', chans, 100, 'hi-res');
period = 100 * 30 / max(1, size(data, 2));   % ticks per column
printf('\ncontinuous data: 100 ms of "hi-res" for electrodes %s: %d x %d values from t = %u\n', ...
       mat2str(chans), size(data, 1), size(data, 2), t0);
for i = 1:numel(chans)
  printf('  electrode %3d: min %9.3f  max %9.3f  mean %9.3f\n', chans(i), min(data(i, :)), ...
         max(data(i, :)), mean(data(i, :)));
end

outDir = getenv('VORN_DEMO_DIR');
if isempty(outDir)
  outDir = fullfile(getenv('VORN_ROOT'), 'out', 'demo');
end
% Plotting without a display: gnuplot draws straight into a PNG file.
canPlot = any(strcmp(available_graphics_toolkits(), 'gnuplot')) && ...
          system('command -v gnuplot >/dev/null 2>&1') == 0;
if ~canPlot
  printf('\nno pictures: gnuplot is not installed (scripts/setup.sh installs it)\n');
else
  if ~exist(outDir, 'dir')
    mkdir(outDir);
  end
  warning('off', 'Octave:gnuplot-graphics');   % the only toolkit that needs no display
  graphics_toolkit('gnuplot');

  fig = figure('visible', 'off');
  ms = (1:size(data, 2)) * period / 30;
  plot(ms, data');
  xlabel(sprintf('ms after instrument time %u', t0));
  ylabel('hi-res (physical units)');
  title(sprintf('vornmex(''cont'', %s, 100, ''hi-res'')', mat2str(chans)));
  legend(arrayfun(@(c) sprintf('electrode %d', c), chans, 'UniformOutput', false), ...
         'location', 'eastoutside');
  contFile = fullfile(outDir, 'cont.png');
  print(fig, contFile, '-dpng', '-r90');
  close(fig);

  fig = figure('visible', 'off', 'position', [0 0 800 600]);
  shown = min(numel(chans), 4);
  sampleMs = (0:51) / 30;
  for i = 1:shown
    subplot(2, 2, i);
    waves = cell2mat(wfs{i}(max(1, end - 49):end)');   % the newest 50
    if ~isempty(waves)
      plot(sampleMs, waves', 'color', [0.2 0.4 0.8]);
    end
    title(sprintf('electrode %d: %d spikes', chans(i), count(i)));
    if i > 2
      xlabel('ms');
    end
    ylabel('spk (physical units)');
    xlim([0 sampleMs(end)]);
  end
  spikeFile = fullfile(outDir, 'spikes.png');
  print(fig, spikeFile, '-dpng', '-r90');
  close(fig);
  printf('\npictures:\n  %s\n  %s\n', contFile, spikeFile);
end

vornmex('close');
printf('\nconnection closed.\n');
