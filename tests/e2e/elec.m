% vornsim: --hidden-electrode 5 --hidden-electrode 10243
% 'elec' against the default instrument: five front ends (the fifth is the
% "stim front end"), spike processors at even ids, an analog module with 16
% inputs and 4 "Analog Out <k>" outputs, the digital I/O module (34).

everything = [1:4, 6:160, 10241:10242, 10244:10256];
none = zeros(1, 0);
cases = {
  'all', everything, '''all'': every electrode, by module then channel, as a 1xN row'
  '', everything, 'the empty text is ''all'''
  'stim', 129:160, 'the stim front end'
  'micro', [1:4, 6:128], 'the micro front ends, hidden electrode 5 left out'
  'micro front end 2', 33:64, 'one front end by its full name'
  'front end', [1:4, 6:160], 'a substring anywhere in the name'
  'Analog', [10241:10242, 10244:10256], 'analog inputs: the "Out" channels and the hidden one left out'
  'Micro', none, 'the search is case-sensitive'
  'spike processor', none, 'modules at even ids are skipped'
  'Digital', none, 'the digital I/O module (34) is skipped'
  repmat('a', 1, 10239), none, 'a text of 10239 characters is read'};
for i = 1:rows(cases)
  vt_equal(vornmex('elec', cases{i, 1}), cases{i, 2:3});
end
vt_equal(size(vornmex('cont', [5 10243], 10, 'lfp')), [2 10], 'hidden channels are still electrodes for ''cont''');

usage = 'usage: vornmex(''elec'', <headstage string>)';
vt_errors({
  @() vornmex('elec'), usage, 'no headstage'
  @() vornmex('elec', 'all', 1), usage, 'too many inputs'
  @() vornmex('elec', 5), 'invalid headstage string', 'a number'
  @() vornmex('elec', struct('a', 1)), 'invalid headstage string', 'a struct'
  @() vornmex('elec', repmat('a', 1, 10240)), 'invalid headstage string', 'a text of 10240 characters'});
vt_done();
