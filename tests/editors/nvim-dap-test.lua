-- The nvim-dap set-up in a real Neovim, against a stand-in for nvim-dap
-- that keeps only what the set-up touches (its adapters and configurations
-- tables, and no dap.ABORT, as in nvim-dap 0.6): the launch's values are
-- filled in as nvim-dap fills them, then the adapter is asked to start.
-- A source the assembler refuses must start nothing and leave its error in
-- the quickfix list; the demo must assemble and start lumacor-debug.
--   LUMACOR_ASM=... LUMACOR_DEBUG=... LUMACOR_DEMO=DIR \
--     nvim --headless -u NONE -i NONE -c 'luafile nvim-dap-test.lua'
local here = vim.fn.fnamemodify(debug.getinfo(1, 'S').source:sub(2), ':p:h')
vim.opt.runtimepath:append(here .. '/../../editors/nvim')
local dap = { adapters = {}, configurations = {} }
package.loaded.dap = dap

local function fail(text)
  io.stderr:write('nvim-dap: FAILED: ' .. text .. '\n')
  vim.cmd('cquit 1')
end

-- What nvim-dap does on a launch: each function value called, then the
-- adapter given the result; returns what the adapter called back with.
local function launch(config)
  local filled = {}
  for key, value in pairs(config) do
    if type(value) == 'function' then value = value() end
    filled[key] = value
  end
  local started
  dap.adapters.lumacor(function(adapter) started = adapter end, filled)
  return started, filled
end

local ok, err = pcall(function()
  require('lumacor_dap').setup({ assembler = os.getenv('LUMACOR_ASM'), adapter = os.getenv('LUMACOR_DEBUG') })
  local config = dap.configurations.asm[1]

  local dir = vim.fn.tempname()
  vim.fn.mkdir(dir, 'p')
  vim.fn.writefile({ 'main:   LD    r0, 1', '        BOGUS r0' }, dir .. '/bad.asm')
  vim.cmd('edit ' .. dir .. '/bad.asm')
  if launch(config) then fail('a source that does not assemble was launched') end
  local errors = vim.tbl_filter(function(e) return e.valid == 1 end, vim.fn.getqflist())
  if #errors ~= 1 or errors[1].lnum ~= 2 or errors[1].type ~= 'e' then
    fail('the quickfix list does not hold the error on line 2: ' .. vim.inspect(vim.fn.getqflist()))
  end

  local demo = dir .. '/demo'
  vim.fn.mkdir(demo .. '/art', 'p')
  for _, pattern in ipairs({ '/*.asm', '/*.inc' }) do
    for _, f in ipairs(vim.fn.glob(os.getenv('LUMACOR_DEMO') .. pattern, false, true)) do
      vim.fn.writefile(vim.fn.readfile(f, 'b'), demo .. '/' .. vim.fn.fnamemodify(f, ':t'), 'b')
    end
  end
  for _, f in ipairs(vim.fn.glob(os.getenv('LUMACOR_DEMO') .. '/art/*.inc', false, true)) do
    vim.fn.writefile(vim.fn.readfile(f, 'b'), demo .. '/art/' .. vim.fn.fnamemodify(f, ':t'), 'b')
  end
  vim.cmd('edit ' .. demo .. '/demo.asm')
  local started, filled = launch(config)
  if not started or started.command ~= vim.fn.exepath(os.getenv('LUMACOR_DEBUG')) then
    fail('the demo did not start lumacor-debug: ' .. vim.inspect(started))
  end
  if filled.program ~= demo .. '/demo.rom' or vim.fn.filereadable(demo .. '/demo.rom.dbg') ~= 1 then
    fail('the demo was not assembled with debug information into demo.rom: ' .. vim.inspect(filled))
  end
end)
if not ok then fail(tostring(err)) end
io.stdout:write('nvim-dap: a launch that does not assemble starts nothing, the demo starts: ok\n')
vim.cmd('qall!')
