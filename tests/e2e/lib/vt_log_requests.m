function entries = vt_log_requests(processor, module, property)
% entries = vt_log_requests(processor, module, property): the simulator's
% log lines of kind "request" for that property address, oldest first.
  entries = {};
  for entry = vt_log_entries('request')
    e = entry{1};
    if e.target_processor == processor && e.target_module == module && e.property == property
      entries{end + 1} = e; %#ok<AGROW>
    end
  end
end
