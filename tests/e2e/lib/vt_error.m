function ok = vt_error(fhandle, expectedMessage, name)
% vt_error(fhandle, expectedMessage, name): passes when calling fhandle
% raises an error whose message, after a leading "vornmex: ", is exactly
% expectedMessage.
  try
    fhandle();
    msg = '(no error)';
  catch err
    msg = regexprep(err.message, '^vornmex: ', '');
  end
  ok = strcmp(msg, expectedMessage);
  vt_record(ok, name, sprintf('expected "%s"\nactual   "%s"', expectedMessage, msg));
end
