;;; dap-lumacor-test.el --- dap-lumacor in a real dap-mode  -*- lexical-binding: t; -*-

;; emacs --batch -l dap-lumacor-test.el DEMO_DIR
;;
;; Copies the demo's sources to a new folder, sets a breakpoint in the frame
;; handler, launches through the "lumacor" provider (which assembles the demo
;; with debug information first), waits for the stop on that line, steps back
;; onto the line before, and disconnects.  lumacor-asm and lumacor-debug must
;; be on PATH.  Exits 0 when all holds, 1 with the reason otherwise.

;;; Code:

(package-initialize)
(add-to-list 'load-path (expand-file-name "../../editors/emacs"
                                          (file-name-directory load-file-name)))
(require 'dap-lumacor)

(setq dap-breakpoints-file (make-temp-file "dap-breakpoints"))

(defun lumacor-test--wait (what pred)
  "Run the event loop until PRED holds; fail naming WHAT after 60 s."
  (let ((deadline (+ (float-time) 60)))
    (while (not (funcall pred))
      (when (> (float-time) deadline)
        (error "Timed out waiting for %s" what))
      (accept-process-output nil 0.05))))

(defun lumacor-test--stop (what)
  "Wait for the session to stop and return its top frame's line; WHAT names it."
  (lumacor-test--wait what (lambda () (-some-> (dap--cur-session) dap--debug-session-active-frame)))
  (let ((frame (dap--debug-session-active-frame (dap--cur-session))))
    (unless (string-suffix-p "/demo.asm" (dap--get-path-for-frame frame))
      (error "%s: stopped in %S" what (dap--get-path-for-frame frame)))
    (gethash "line" frame)))

(defun lumacor-test--expect (what want got)
  (unless (equal want got)
    (error "%s: expected %S, got %S" what want got)))

(defun lumacor-test--missing-adapter ()
  "An adapter that cannot be found stops the launch with the setting to set."
  (let ((dap-lumacor-debug-program '("lumacor-debug-absent")))
    (condition-case err
        (progn (dap-lumacor--populate (list :program "demo.rom" :source nil))
               (error "A launch without an adapter went ahead"))
      (user-error
       (unless (string-match-p "lumacor-debug-absent.*dap-lumacor-debug-program" (cadr err))
         (error "The missing adapter's message does not say what to set: %s" (cadr err)))))))

(defun lumacor-test--run (demo-dir)
  (lumacor-test--missing-adapter)
  (let ((dir (make-temp-file "lumacor-dap" t)))
    (dolist (f (directory-files demo-dir t "\\.\\(asm\\|inc\\)\\'"))
      (copy-file f (file-name-as-directory dir)))
    (copy-directory (expand-file-name "art" demo-dir) (expand-file-name "art" dir))
    (find-file (expand-file-name "demo.asm" dir))
    (goto-char (point-min))
    (re-search-forward "^frame:")
    (let* ((first-line (1+ (line-number-at-pos)))
           (break-line (1+ first-line)))
      (forward-line 2)
      (dap-breakpoint-add)
      (dap-debug (list :type "lumacor" :request "launch" :name "demo" :noDisplay t))
      (lumacor-test--expect "the stop" break-line (lumacor-test--stop "the breakpoint"))
      (unless (file-exists-p (expand-file-name "demo.rom.dbg" dir))
        (error "The launch did not assemble the demo with debug information"))
      (dap-lumacor-step-back)
      (lumacor-test--expect "the step back" first-line (lumacor-test--stop "the step back"))
      (let ((proc (dap--debug-session-proc (dap--cur-session))))
        (dap-disconnect (dap--cur-session))
        (lumacor-test--wait "the adapter to leave" (lambda () (not (process-live-p proc))))
        (lumacor-test--expect "the adapter's exit status" 0 (process-exit-status proc))))))

(condition-case err
    (progn
      (lumacor-test--run (car command-line-args-left))
      (message "dap-lumacor: launch, breakpoint, stop and step back in dap-mode: ok")
      (kill-emacs 0))
  (error
   (message "dap-lumacor: FAILED: %s" (error-message-string err))
   (with-current-buffer (get-buffer-create "*DAP compilation*")
     (message "%s" (buffer-string)))
   (kill-emacs 1)))

;;; dap-lumacor-test.el ends here
