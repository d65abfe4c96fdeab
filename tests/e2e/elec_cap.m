% vornsim: --front-ends 16
% 'elec' when more than 512 electrodes match: sixteen front ends of 32
% channels (electrodes 1..512, modules 1..31) and the analog module (33) with
% 16 inputs make 528; only the first 512, in module and channel order, come
% back.
vt_equal(vornmex('elec', 'all'), 1:512, 'the first 512 of 528, the analog inputs cut off');
vt_equal(vornmex('elec', 'Analog'), 10241:10256, 'the analog inputs alone');
vt_equal(vornmex('elec', 'front end 16'), 481:512, 'the sixteenth front end');
vt_done();
