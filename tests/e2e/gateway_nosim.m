% e2e: --no-sim
% The gateway on the instrument network with no instrument on it.

vt_error(@() vornmex(true), 'convert logical inputs to double', ...
         'argument types are checked before a connection starts');
% The start-up waits for the module descriptors until its time runs out.
vt_error(@() vornmex(), 'could not find KEL', 'no instrument: the first call');
vt_error(@() vornmex('time'), 'could not find KEL', 'no instrument: the calls after it');
vt_error(@() vornmex('help'), 'could not find KEL', 'every command meets the health check');
vornmex('close');
vt_done();
