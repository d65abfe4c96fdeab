% vornsim: --hidden-electrode 5 --hidden-electrode 10243
% 'elec' against the simulator's default instrument: five front ends
% (modules 1, 3, 5, 7, 9; the fifth is the "stim front end"), their spike
% processors at the even ids, an analog module (11) with 16 inputs and 4
% outputs named "Analog Out <k>", and the digital I/O module (34). The
% physical channels of electrode 5 and of analog input 10243 carry flag 0x04.

usage = 'usage: vornmex(''elec'', <headstage string>)';
everything = [1:4, 6:160, 10241:10242, 10244:10256];

vt_equal(vornmex(), true, 'connected to the simulator');

%% Every front end
e = vornmex('elec', 'all');
vt_equal(e, everything, '''all'': every electrode, by module then channel, as a 1xN double row');
vt_equal(vornmex('elec', ''), everything, 'the empty text is ''all''');

%% Selection by module name (case-sensitive substring)
vt_equal(vornmex('elec', 'stim'), 129:160, 'the stim front end');
vt_equal(vornmex('elec', 'micro'), [1:4, 6:128], 'the micro front ends, electrode 5 hidden');
vt_equal(vornmex('elec', 'micro front end 2'), 33:64, 'one front end by its full name');
vt_equal(vornmex('elec', 'front end'), [1:4, 6:160], 'a substring anywhere in the name');
vt_equal(vornmex('elec', 'Analog'), [10241:10242, 10244:10256], ...
         'analog inputs, the "Out" channels and the hidden one left out');
vt_equal(vornmex('elec', 'ALL'), zeros(1, 0), '''ALL'' is a search, not the whole list');
vt_equal(vornmex('elec', 'Micro'), zeros(1, 0), 'the search is case-sensitive');
vt_equal(vornmex('elec', 'no such'), zeros(1, 0), 'no match gives 1x0');
vt_equal(vornmex('elec', 'spike processor'), zeros(1, 0), 'modules at even ids are skipped');
vt_equal(vornmex('elec', 'Digital'), zeros(1, 0), 'the digital I/O module (34) is skipped');
vt_equal(vornmex('elec', repmat('a', 1, 10239)), zeros(1, 0), 'a text of 10239 characters is read');

%% A hidden channel is still an electrode for the data commands
[d, t] = vornmex('cont', [5 10243], 10, 'lfp');
vt_equal(size(d), [2 10], '''cont'' reads the hidden electrodes');

%% Errors
vt_error(@() vornmex('elec'), usage, 'no headstage');
vt_error(@() vornmex('elec', 'all', 1), usage, 'too many inputs');
vt_error(@() vornmex('elec', 5), 'invalid headstage string', 'a number');
vt_error(@() vornmex('elec', struct('a', 1)), 'invalid headstage string', 'a struct');
vt_error(@() vornmex('elec', repmat('a', 1, 10240)), 'invalid headstage string', ...
         'a text of 10240 characters');
vt_equal(vornmex('elec', 'all'), everything, 'still answering after the errors');

vt_done();
