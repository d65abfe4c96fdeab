function ok = vt_error(fhandle, expectedMessage, name)
% vt_error(fhandle, expectedMessage, name): passes when calling fhandle
% raises an error whose message, after the leading "vornmex: ", is exactly
% expectedMessage.
  try
    fhandle();
    vt_record(false, name, sprintf('no error; expected "%s"', expectedMessage));
    ok = false;
    return;
  catch err
    msg = err.message;
  end
  prefix = 'vornmex: ';
  if strncmp(msg, prefix, numel(prefix))
    msg = msg(numel(prefix) + 1:end);
  end
  ok = strcmp(msg, expectedMessage);
  vt_record(ok, name, sprintf('expected "%s"\nactual   "%s"', expectedMessage, err.message));
end
