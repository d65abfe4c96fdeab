% vornsim: --no-digin stream
% 'signal' when module 34 offers no usable digital-input stream (here it is
% left out; in signal_nodigin_enable.m its descriptor names an Int, not its
% enable Bool): 'digin' fails and sends nothing, above all no Bool set.

vt_equal(vornmex(), true, 'the cache becomes ready');
vt_refused('''digin'' without its stream', {
  @() vornmex('signal', 'digin'), 'failed to find signal descriptor', 'reading ''digin'''
  @() vornmex('signal', 'digin', 1), 'failed to find signal descriptor', 'switching ''digin'' on'
  @() vornmex('signal', 'digin', 0), 'failed to find signal descriptor', 'switching ''digin'' off'
  @() vornmex('signal', 'Digin'), 'invalid signal: Digin', 'the name is checked before the descriptor'});
vt_done();
