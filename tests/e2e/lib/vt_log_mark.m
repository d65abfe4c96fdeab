function seq = vt_log_mark()
% seq = vt_log_mark(): the "seq" of the newest packet the simulator has
% logged, once all that was sent before has arrived (see vt_sent_since);
% pass it to vt_log_since.
  newest = @() max([0, cellfun(@(e) e.seq, vt_log_since(0))]);
  vt_sent_since(newest());
  seq = newest();
end
