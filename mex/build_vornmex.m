function build_vornmex(outdir)
% build_vornmex([outdir]) compiles the vornmex MEX file with the mex
% command, for those who do not build with CMake. It runs in MATLAB and in
% GNU Octave and writes vornmex.<mexext> (vornmex.mex in Octave) to outdir,
% by default the current folder. A C++17 compiler is needed.
  if nargin < 1
    outdir = pwd;
  end
  here = fileparts(mfilename('fullpath'));
  lib = fullfile(fileparts(here), 'VornLib');
  sources = [cpp_files(here), cpp_files(lib)];
  includes = {['-I' here], ['-I' lib]};

  if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex is mkoctfile --mex; it takes its flags from the environment.
    old = getenv('CXXFLAGS');
    setenv('CXXFLAGS', '-std=c++17 -O2 -fPIC -pthread');
    cleanup = onCleanup(@() setenv('CXXFLAGS', old));
    output = fullfile(outdir, 'vornmex.mex');
    mex('-o', output, includes{:}, sources{:}, '-pthread');
  else
    output = fullfile(outdir, ['vornmex.' mexext]);
    mex('-outdir', outdir, '-output', 'vornmex', includes{:}, ...
        'CXXFLAGS=$CXXFLAGS -std=c++17 -pthread', 'LDFLAGS=$LDFLAGS -pthread', sources{:});
  end
  fprintf('built %s\n', output);
end

function files = cpp_files(folder)
  listing = dir(fullfile(folder, '*.cpp'));
  files = cellfun(@(name) fullfile(folder, name), {listing.name}, 'UniformOutput', false);
end
