% vornsim: --operators none
% 'opers' and 'trial' when no Osprane operator is on the network.
vt_equal(vornmex('opers'), zeros(1, 0), 'no operators: a 1x0 row');
vt_refused('''trial'' without operators', {
  @() vornmex('trial', 0), 'No Osprane operators found', 'operator 0 (the message ends in a line feed)'
  @() vornmex('trial', 129), 'could not find operator', 'operator 129 is unknown'});
vt_done();
