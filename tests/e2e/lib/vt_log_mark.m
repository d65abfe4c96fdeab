function seq = vt_log_mark()
% seq = vt_log_mark(): the "seq" of the newest packet the simulator has
% logged so far (0 when none); pass it to vt_log_since.
  seq = 0;
  for entry = vt_log_entries()
    e = entry{1};
    if isfield(e, 'seq')
      seq = max(seq, e.seq);
    end
  end
end
