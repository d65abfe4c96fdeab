% vornsim: --no-digin enable
% The checks of signal_nodigin.m, against a "digin" stream whose signal
% descriptor names an Int (module 34, property 18) instead of its enable Bool.
run(fullfile(getenv('VORN_ROOT'), 'tests', 'e2e', 'signal_nodigin.m'));
