function value = vt_output(n, f, varargin)
% value = vt_output(n, f, args...): the n-th output of f(args...), for use
% in conditions, e.g. vt_wait(@() vt_output(2, @vornmex, 'cont', 1, 10, 'raw') > t, 5).
  outputs = cell(1, n);
  [outputs{:}] = f(varargin{:});
  value = outputs{n};
end
