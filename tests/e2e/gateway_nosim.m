% e2e: --no-sim
% The gateway on the instrument network with no instrument on it: the
% start-up waits for the module descriptors until its time runs out.

vt_errors({
  @() vornmex(true), 'convert logical inputs to double', 'argument types are checked first'
  @() vornmex(), 'could not find KEL', 'no instrument: the first call'
  @() vornmex('time'), 'could not find KEL', 'no instrument: the calls after it'
  @() vornmex('help'), 'could not find KEL', 'every command meets the health check'});
vornmex('close');
vt_done();
