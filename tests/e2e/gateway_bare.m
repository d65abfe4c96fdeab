% e2e: --bare
% The gateway on a host that is not on the instrument network.

vt_errors({
  @() vornmex(int32(3)), 'all numeric inputs must be doubles', 'argument types are checked first'
  @() vornmex(), 'could not find instrument network', 'the first call'
  @() vornmex(), 'could not find KEL', 'the call after it'
  @() vornmex(5), 'usage: vornmex(<command>, <args>', 'the command is checked before the health'});
vornmex('close');   % ends the failed connection, so that the next call starts a new one
vt_error(@() vornmex('time'), 'could not find instrument network', 'a new connection after ''close''');
vt_done();
