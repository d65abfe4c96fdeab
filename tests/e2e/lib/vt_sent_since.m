function [got, hexes] = vt_sent_since(mark)
% [got, hexes] = vt_sent_since(mark): the log lines (and the bytes) of every
% packet the simulator received after vt_log_mark() returned mark, once all
% that was sent before this call has arrived: a marker packet (electrode 1's
% spike enable set again to its value) follows and is waited for; it is left
% out of the result.
  vornmex('signal', 1, 'spk', double(vornmex('signal', 1, 'spk')));
  is_marker = @(e) strcmp(e.kind, 'set') && e.target_module == 2 && e.property == 69;
  vt_wait(@() any(cellfun(is_marker, vt_log_since(mark))), 10);
  got = vt_log_since(mark);
  got(find(cellfun(is_marker, got), 1, 'last')) = [];
  hexes = cellfun(@(e) e.bytes, got, 'UniformOutput', false);
end
