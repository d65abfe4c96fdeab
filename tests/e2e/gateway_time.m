% vornsim: --clock-start 4000000000
% 'time' past 2^31 ticks (about 19.9 hours of uptime) stays the unsigned
% 32-bit count of the instrument's clock.
t = vornmex('time');
vt_check(t >= 4000000000 && t < 2^32, sprintf('''time'' past 2^31 is the unsigned count (%.0f)', t));
vt_wait(@() vornmex('time') > t, 5, '''time'' advances past 2^31');
vornmex('close');
vt_done();
