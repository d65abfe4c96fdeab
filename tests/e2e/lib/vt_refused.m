function vt_refused(name, table)
% vt_refused(name, table): every call of the table {fhandle, message, name;
% ...} raises its message (vt_errors), and none of them sends anything.
  mark = vt_log_mark();
  vt_errors(table);
  got = vt_sent_since(mark);
  kinds = cellfun(@(e) e.kind, got, 'UniformOutput', false);
  vt_record(isempty(got), [name ': nothing sent'], ['received: ' strjoin(kinds, ', ')]);
end
