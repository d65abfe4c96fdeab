function s = vt_sim_skips(t1, t2)
% vt_sim_skips(t1, t2): ticks within [t1, t2) the simulator skipped (it fell
% behind and sent nothing for them).
  s = 0;
  for entry = vt_log_entries('clock_skip')
    s = s + max(0, min(entry{1}.tick, t2) - max(entry{1}.tick - entry{1}.ticks, t1));
  end
end
